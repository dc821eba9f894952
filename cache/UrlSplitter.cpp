#include "cache/UrlSplitter.h"

#include <algorithm>

#include "platform/system.h"
#include "base/Ascii.h"

namespace trovex {

TROVEX_MODULE_STATE GroupingSettings TheGrouping;

namespace {

// Where the first colon at or after from is, or npos. A scheme's colon comes
// within a few bytes, so the first sixteen are looked at one by one: a
// search by the library costs more than they do.
size_t FindColon(std::string_view s, size_t from) {
  size_t first = std::min(s.size(), from + 16);
  for (size_t at = from; at < first; ++at) {
    if (s[at] == ':') return at;
  }
  return first < s.size() ? s.find(':', first) : std::string_view::npos;
}

// Drops everything up to and including the first "://". Every URL is split
// on each refill, so this looks for colons and checks the two bytes after
// each, where a search for the marker compared it anew at every colon.
void DropScheme(std::string_view& s) {
  for (size_t at = FindColon(s, 0); at != std::string_view::npos; at = FindColon(s, at + 1)) {
    if (s.size() - at >= 3 && s[at + 1] == '/' && s[at + 2] == '/') {
      s.remove_prefix(at + 3);
      return;
    }
  }
}

size_t LastDotBefore(std::string_view s, size_t end) {
  if (end == std::string_view::npos || end == 0) return std::string_view::npos;
  return s.rfind('.', end - 1);
}

}  // namespace

UrlSplitter::UrlSplitter(const GroupingSettings& settings)
    : prefix_(settings.CachePrefix),
      skip_(settings.SkipDomains),
      labels_(std::string(",").append(settings.SkipDomainsList).append(",")) {}

UrlParts UrlSplitter::SplitUrl(std::string_view url) const {
  std::string_view host = HostOf(url);
  return UrlParts{SiteOf(host), host};
}

std::string_view UrlSplitter::HostOf(std::string_view url) const {
  std::string_view s = url;
  DropCookieUser(s);
  DropScheme(s);
  return s.substr(0, s.find('/'));
}

std::string_view UrlSplitter::SiteOf(std::string_view host) const {
  std::string_view s = host.substr(0, host.find(':'));
  if (s.empty()) return s;
  return IsDecimalDigit(s.back()) ? s : RegistrablePart(s);
}

// Cookie URLs read "<prefix><user>@<host>/<path>".
void UrlSplitter::DropCookieUser(std::string_view& s) const {
  // The first byte first: most URLs are no cookie's.
  if (prefix_.empty() || s.empty() || s[0] != prefix_[0] || !s.starts_with(prefix_)) return;
  size_t at = s.find('@');
  if (at != std::string_view::npos) s.remove_prefix(at + 1);
}

// The last two labels of host, or three when the second-to-last is one of
// the listed second-level labels.
std::string_view UrlSplitter::RegistrablePart(std::string_view host) const {
  size_t d1 = host.rfind('.');
  size_t d2 = LastDotBefore(host, d1);
  if (skip_ && d2 != std::string_view::npos && IsListedLabel(host.substr(d2 + 1, d1 - d2 - 1))) {
    d2 = LastDotBefore(host, d2);
  }
  return d2 == std::string_view::npos ? host : host.substr(d2 + 1);
}

// True when "," label "," occurs in "," SkipDomainsList ",".
bool UrlSplitter::IsListedLabel(std::string_view label) const {
  std::string_view haystack = labels_;
  for (size_t at = haystack.find(label, 1); at != std::string_view::npos; at = haystack.find(label, at + 1)) {
    size_t end = at + label.size();
    if (haystack[at - 1] == ',' && end < haystack.size() && haystack[end] == ',') return true;
  }
  return false;
}

}  // namespace trovex

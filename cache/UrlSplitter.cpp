#include "cache/UrlSplitter.h"

#include "platform/system.h"

TROVEX_MODULE_STATE GroupingSettings TheGrouping;

namespace {

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

void DropBefore(std::string_view& s, std::string_view marker) {
  size_t found = s.find(marker);
  if (found != std::string_view::npos) s.remove_prefix(found + marker.size());
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

UrlParts UrlSplitter::Split(std::string_view url) const {
  std::string_view host = HostOf(url);
  return UrlParts{SiteOf(host), host};
}

std::string_view UrlSplitter::HostOf(std::string_view url) const {
  std::string_view s = url;
  DropCookieUser(s);
  DropBefore(s, "://");
  return s.substr(0, s.find('/'));
}

std::string_view UrlSplitter::SiteOf(std::string_view host) const {
  std::string_view s = host.substr(0, host.find(':'));
  if (s.empty()) return s;
  return IsDecimalDigit(s.back()) ? s : RegistrablePart(s);
}

// Cookie URLs read "<prefix><user>@<host>/<path>".
void UrlSplitter::DropCookieUser(std::string_view& s) const {
  if (prefix_.empty() || !s.starts_with(prefix_)) return;
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

UrlParts SplitUrl(std::string_view url) {
  return UrlSplitter(TheGrouping).Split(url);
}

// The site and host names of source URLs, under the grouping settings.
#ifndef TROVEX_CACHE_URLSPLITTER_H
#define TROVEX_CACHE_URLSPLITTER_H

#include <string>
#include <string_view>

namespace trovex {

// The settings that decide how URLs group into sites and hosts. Groups made
// under one value stay valid while the current value equals it.
struct GroupingSettings {
  std::string CachePrefix;      // how cookie URLs begin
  bool SkipDomains = true;      // keep a third label after a listed second-level one
  std::string SkipDomainsList;  // the second-level labels, separated by ','

  bool operator==(const GroupingSettings&) const = default;
};

// The current grouping settings; module state.
extern GroupingSettings TheGrouping;

// Site and host name of a source URL; either may be empty, and both are
// views into url.
struct UrlParts {
  std::string_view Site;
  std::string_view Host;
};

// Splits URLs under the settings it is made with, however the current ones
// change later.
class UrlSplitter {
 public:
  explicit UrlSplitter(const GroupingSettings& settings);

  // The site and host name of url. The site is empty when the host is, or
  // starts with its port.
  UrlParts SplitUrl(std::string_view url) const;

  // The host name SplitUrl gives url, alone: a host's site follows from its
  // name, so a caller that met the host before needs no more.
  std::string_view HostOf(std::string_view url) const;

 private:
  std::string_view SiteOf(std::string_view host) const;
  void DropCookieUser(std::string_view& s) const;
  std::string_view RegistrablePart(std::string_view host) const;
  bool IsListedLabel(std::string_view label) const;

  std::string prefix_;
  bool skip_;
  std::string labels_;  // SkipDomainsList between commas
};

}  // namespace trovex

#endif

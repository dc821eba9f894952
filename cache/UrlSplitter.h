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
  UrlParts Split(std::string_view url) const;
  // Split in two steps, for callers that need a host's site once, not once
  // per URL: the host name of url, a view into it, and the site of a host
  // name (empty when the host is, or starts with its port).
  std::string_view HostOf(std::string_view url) const;
  std::string_view SiteOf(std::string_view host) const;

 private:
  void DropCookieUser(std::string_view& s) const;
  std::string_view RegistrablePart(std::string_view host) const;
  bool IsListedLabel(std::string_view label) const;

  std::string prefix_;
  bool skip_;
  std::string labels_;  // SkipDomainsList between commas
};

// Splits url into its site and host name under the current settings.
UrlParts SplitUrl(std::string_view url);

}  // namespace trovex

#endif

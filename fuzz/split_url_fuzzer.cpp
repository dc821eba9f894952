// SplitUrl under grouping settings that come from the registry and the ini
// file: input is a flags byte (bit 0: SkipDomains), the cookie prefix, a NUL,
// the second-level label list, a NUL, and the URL.
//
// The host and site are views into the URL; the host holds no '/'; the site
// is the end of the host's name (the host without its port), cut after a
// dot, with at most one dot, or two when second-level labels are skipped,
// unless the name ends in a digit and is kept whole.
#include <string>
#include <string_view>

#include "cache/CacheObj.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"

using namespace trovex;

namespace {

bool Within(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckSite(std::string_view name, std::string_view site) {
  if (name.empty()) {
    FUZZ_CHECK(site.empty());
    return;
  }
  FUZZ_CHECK(!site.empty() && name.ends_with(site));
  size_t before = name.size() - site.size();
  FUZZ_CHECK(before == 0 || name[before - 1] == '.');
  bool numeric = name.back() >= '0' && name.back() <= '9';
  FUZZ_CHECK(numeric ? site == name : CountChar(site, '.') <= (TheGrouping.SkipDomains ? 2 : 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  TheGrouping.SkipDomains = (input.Byte() & 1) != 0;
  TheGrouping.CachePrefix = input.Part();
  TheGrouping.SkipDomainsList = input.Part();
  std::string url(input.Rest());

  UrlParts parts = UrlSplitter(TheGrouping).SplitUrl(url);
  FUZZ_CHECK(Within(parts.Host, url) && Within(parts.Site, url));
  FUZZ_CHECK(parts.Host.find('/') == std::string_view::npos);
  CheckSite(parts.Host.substr(0, parts.Host.find(':')), parts.Site);

  UrlParts again = UrlSplitter(TheGrouping).SplitUrl(url);
  FUZZ_CHECK(again.Host == parts.Host && again.Site == parts.Site);
  return 0;
}

#include "bench/SyntheticCache.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>

#include "bench/CraftedNames.h"

namespace trovex {

namespace {

constexpr uint32_t kNormalType = 0x00000001;
constexpr uint32_t kCookieType = 0x00100001;
constexpr uint32_t kHistoryType = 0x00200001;
constexpr size_t kEntriesPerSite = 20;
constexpr size_t kMinUrl = 40;
constexpr size_t kMaxUrl = 200;

const char* const kTopLevels[] = {"com", "org", "net", "de", "co.uk", "com.au", "fr", "io", "ac.jp", "info"};
const char* const kHostLabels[] = {"www", "img", "static", "cdn", "api", "m", "media"};
const char* const kExtensions[] = {"htm", "gif", "jpg", "png", "js", "css"};
const char kPathBytes[] = "abcdefghijklmnopqrstuvwxyz0123456789/-_.";

struct Site {
  std::string name;
  std::vector<std::string> hosts;
};

class Generator {
 public:
  Generator(const std::string& folder, size_t entries, Names names)
      : folder_(folder), random_(20240607u + entries), crafted_(names == Names::Crafted) {
    if (crafted_) crafter_.emplace();
  }

  std::vector<Site> MakeSites(size_t count) {
    std::vector<Site> sites(count);
    for (size_t i = 0; i < count; ++i) {
      sites[i].name = Name(Label(i), std::string(".") + kTopLevels[Pick(std::size(kTopLevels))]);
      size_t hosts = 1 + Pick(5);
      size_t first = Pick(std::size(kHostLabels));
      for (size_t h = 0; h < hosts; ++h) {
        sites[i].hosts.push_back(Name(kHostLabels[(first + h) % std::size(kHostLabels)], "." + sites[i].name));
      }
    }
    return sites;
  }

  // Site i has a share of entries proportional to 1 / (i + 1).
  std::vector<double> ZipfShares(size_t count) {
    std::vector<double> cumulative(count);
    double total = 0;
    for (size_t i = 0; i < count; ++i) cumulative[i] = total += 1.0 / static_cast<double>(i + 1);
    for (double& c : cumulative) c /= total;
    return cumulative;
  }

  size_t PickSite(const std::vector<double>& cumulative) {
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
    size_t i = static_cast<size_t>(std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
    return std::min(i, cumulative.size() - 1);
  }

  // A few per cent of entries spell their host with capitals, as some pages
  // link to it.
  std::string Spelled(const std::string& host) {
    if (crafted_) return host;
    size_t roll = Pick(100);
    std::string spelled = host;
    if (roll < 3) {
      for (size_t i = 0; i < spelled.size() && spelled[i] != '.'; ++i) spelled[i] = Upper(spelled[i]);
    } else if (roll < 4) {
      for (char& c : spelled) c = Upper(c);
    }
    return spelled;
  }

  std::string Url(const std::string& host) {
    std::string url = Pick(10) < 7 ? "http://" : "https://";
    url += host;
    if (Pick(100) == 0) url += ":8080";
    url += '/';
    return Path(url, kMinUrl + Pick(kMaxUrl - kMinUrl + 1));
  }

  std::string CookieUrl(const std::string& host) {
    std::string url = "Cookie:user" + std::to_string(Pick(4)) + "@" + host + "/";
    return Path(url, kMinUrl + Pick(40));
  }

  std::string ContentFile() {
    std::string name = folder_ + "/Content.IE5/";
    name += Hex(Pick(256));
    name += '/';
    AppendRandom(name, 8, "abcdefghijklmnopqrstuvwxyz0123456789");
    name += "[1].";
    name += kExtensions[Pick(std::size(kExtensions))];
    return name;
  }

  std::string CookieFile(const std::string& host) { return folder_ + "/Cookies/user@" + host + "[1].txt"; }

  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

 private:
  static char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

  static std::string Hex(size_t n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02zx", n);
    return text;
  }

  // A distinct label for site i: its number in letters, then a few random ones.
  std::string Label(size_t i) {
    std::string label;
    do {
      label += static_cast<char>('a' + i % 26);
      i /= 26;
    } while (i > 0);
    AppendRandom(label, 2 + Pick(8), "abcdefghijklmnopqrstuvwxyz");
    return label;
  }

  // head then tail; crafted, the last characters of head are replaced by
  // crafted ones, so that names keep about the ordinary lengths.
  std::string Name(std::string head, std::string_view tail) {
    if (!crafted_) return head.append(tail);
    head.resize(std::max(head.size(), kCraftedLength) - kCraftedLength);
    return crafter_->Craft(head, tail);
  }

  // url with a path that makes it about length bytes long; a crafted URL
  // ends in its crafted characters.
  std::string Path(std::string url, size_t length) {
    AppendPath(url, crafted_ ? std::max(length, url.size() + kCraftedLength) : length);
    return Name(std::move(url), "");
  }

  void AppendPath(std::string& url, size_t length) {
    if (url.size() < length) AppendRandom(url, length - url.size(), kPathBytes);
  }

  void AppendRandom(std::string& text, size_t count, std::string_view bytes) {
    for (size_t i = 0; i < count; ++i) text += bytes[Pick(bytes.size())];
  }

  std::string folder_;
  std::mt19937_64 random_;
  bool crafted_;
  std::optional<NameCrafter> crafter_;  // only for crafted names: it checks its model
};

class StoreWriter {
 public:
  explicit StoreWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) throw std::runtime_error("cannot write " + path);
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~StoreWriter() {
    if (file_ != nullptr) std::fclose(file_);
  }
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  void Write(uint32_t type, const std::string& url, const std::string& localFile) {
    std::fprintf(file_, "%08x\t%s\t%s\n", type, url.c_str(), localFile.c_str());
  }

 private:
  std::FILE* file_;
};

void WriteLocalFile(const std::string& path, size_t size, size_t seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) & 0xFF);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
}

}  // namespace

SyntheticCache WriteSyntheticCache(const std::string& systemFolder, const std::string& copyFolder,
                                   size_t entries, Names names) {
  if (entries < 4 * kSpecialHostEntries) throw std::invalid_argument("too few entries for the special hosts");
  namespace fs = std::filesystem;
  fs::create_directories(systemFolder);
  fs::create_directories(copyFolder);

  SyntheticCache cache;
  cache.entries = entries;
  cache.copySite = "copy-bench.example";
  cache.copyHost = "files." + cache.copySite;
  cache.bareHost = "bare." + cache.copySite;

  Generator generate(systemFolder, entries, names);
  std::vector<Site> sites = generate.MakeSites(std::max<size_t>(1, entries / kEntriesPerSite));
  std::vector<double> shares = generate.ZipfShares(sites.size());
  std::vector<size_t> listed(sites.size(), 0);
  cache.sites = sites.size() + 1;

  auto store = std::make_unique<StoreWriter>(systemFolder + "/urlcache.txt");
  auto write = [&](uint32_t type, const std::string& url, const std::string& localFile) {
    store->Write(type, url, localFile);
    cache.nameBytes += url.size() + localFile.size();
  };
  // The special hosts' entries are spread evenly through the cache, so that
  // a linear look-up of one goes half-way on average.
  const size_t specials = 2 * kSpecialHostEntries;
  size_t nextSpecial = 0;
  for (size_t i = 0; i < entries; ++i) {
    if (nextSpecial < specials && i == nextSpecial * entries / specials) {
      size_t k = nextSpecial++ / 2;
      bool withFile = nextSpecial % 2 == 1;
      std::string url = "http://" + (withFile ? cache.copyHost : cache.bareHost) + "/object/" + std::to_string(k);
      if (!withFile) {
        write(kNormalType, url, "");
        cache.bareUrls.push_back(url);
        continue;
      }
      std::string file = copyFolder + "/" + std::to_string(k) + ".bin";
      WriteLocalFile(file, 1024 + generate.Pick(31 * 1024), k);
      write(kNormalType, url, file);
      cache.copyUrls.push_back(url);
      cache.copyFiles.push_back(file);
      continue;
    }
    size_t s = generate.PickSite(shares);
    const Site& site = sites[s];
    std::string host = generate.Spelled(site.hosts[generate.Pick(site.hosts.size())]);
    size_t kind = generate.Pick(100);
    if (kind < 3) {
      write(kCookieType, generate.CookieUrl(host), generate.CookieFile(host));
      ++listed[s];
    } else if (kind < 5) {
      write(kHistoryType, generate.Url(host), "");
    } else {
      write(kNormalType, generate.Url(host), generate.ContentFile());
      ++listed[s];
    }
  }
  cache.largestSite = sites[static_cast<size_t>(std::max_element(listed.begin(), listed.end()) - listed.begin())].name;
  store.reset();
  cache.storeBytes = fs::file_size(systemFolder + "/urlcache.txt");
  return cache;
}

}  // namespace trovex

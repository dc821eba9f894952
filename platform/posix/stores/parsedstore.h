// The parsed text store: urlcache.txt in the system folder, one entry per
// line, TYPE<TAB>SOURCE_URL<TAB>LOCAL_FILE, in enumeration order. TYPE is the
// entry type in hexadecimal; LOCAL_FILE is empty, absolute, or relative to
// the system folder. Blank lines, '#' lines and malformed lines are not
// entries.
//
// A parsed file is shared: every enumeration opened on the same version of
// the file (same inode, size and times) reads one parsed copy, and keeps it
// alive as its snapshot however the file changes later. The copy lives only
// as long as an enumeration (or a size query waiting for the call that
// follows it, or the deleter of this process) uses it: a caller that has read
// the cache into memory of its own must not pay for the store a second time.
// Internal to platform/posix (textstore.cpp).
#ifndef TROVEX_PLATFORM_POSIX_PARSEDSTORE_H
#define TROVEX_PLATFORM_POSIX_PARSEDSTORE_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/stores/deletionrecord.h"
#include "platform/posix/shared/fileio.h"
#include "platform/posix/stores/urlstore.h"

namespace trovex {

namespace textstore {

// One entry, as offsets into the text of its store. The local file name
// starts right after the URL and its tab.
struct Entry {
  size_t url = 0;
  uint32_t urlLength = 0;
  uint32_t fileLength = 0;
  uint32_t type = 0;
  uint8_t typeLength = 0;
  bool relative = false;

  size_t File() const { return url + urlLength + 1; }
  size_t LineStart() const { return url - typeLength - 1; }
};

// What identifies one version of the store file.
struct Version {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const Version& other) const {
    return path == other.path && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

class Store final : public UrlSnapshot {
 public:
  std::string folder;  // the system folder, for relative local files
  Version version;     // of the file the text was read from
  FileText text;
  std::vector<Entry> entries;

  size_t Count() const override { return entries.size(); }
  std::string_view Url(size_t i) const override;
  size_t RecordSize(size_t i) const override;
  void WriteRecord(size_t i, INTERNET_CACHE_ENTRY_INFOA* record) const override;
  std::string_view Folder() const override { return folder; }

  // The hash of the text under key, worked out once per key.
  uint64_t Hash(uint64_t key) const;
  // Whether a record with this header applies to this text.
  bool Matches(const RecordHeader& header) const { return Hash(header.key) == header.storeHash; }
  // The text without the lines of the entries that `removed` marks.
  std::string TextWithout(const std::vector<bool>& removed) const;

 private:
  mutable std::mutex hashMutex_;
  mutable std::optional<RecordHeader> hashed_;
};

// The version of the store file at `path` whose status is `info`.
Version VersionOf(const std::string& path, const struct stat& info);

// The parsed store as the file is now; null when there is no file. Reuses the
// last parse while the file is unchanged, so a size query and the call that
// follows it parse once: the same object while its status is the same and,
// for a file written within a clock tick of being read, its bytes too.
std::shared_ptr<const Store> CurrentStore();

// The path of entry i's local file; empty when it names none.
std::string LocalFileOf(const Store& store, size_t i);

}  // namespace textstore

}  // namespace trovex

#endif

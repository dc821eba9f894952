// get --manifest: one CSV row per copied file, with the SHA-256 of the copy
// as it lies at its target.
#ifndef TROVEX_HOST_MANIFEST_H
#define TROVEX_HOST_MANIFEST_H

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "host/EntryRecord.h"

namespace trovex {

// True when this build can hash files (it links a SHA-256).
bool ManifestAvailable();

// The SHA-256 of the file's bytes in lower-case hex and their count;
// nullopt when the file cannot be read to its end.
struct FileDigest {
  std::string Sha256;
  uint64_t Size = 0;
};
std::optional<FileDigest> DigestOfFile(const std::filesystem::path& file);

// The manifest file, its header written when it opens; throws HostError
// (kExitFailed) when it cannot be made.
class Manifest {
 public:
  explicit Manifest(const std::filesystem::path& file);

  // One row for the copy at target of the entry with url; record is the
  // cache's record of it (the first container's), when there is one.
  // False when the copy cannot be read back or the row not written.
  bool Add(std::string_view url, const std::optional<EntryRecord>& record, const std::filesystem::path& target);

 private:
  std::filesystem::path file_;
  std::ofstream out_;
};

}  // namespace trovex

#endif

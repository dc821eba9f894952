#include "host/Manifest.h"

#include <array>

#include "base/Hex.h"
#include "host/HostError.h"
#include "host/Output.h"

#ifdef TROVEX_HAVE_SHA256
#include <sha2.h>
#endif

namespace trovex {

namespace {

constexpr char kHeader[] = "url,container,last_modified,expires,last_access,last_sync,size,sha256,copy";

#ifdef TROVEX_HAVE_SHA256
// Feeds the open file to the digest in blocks, so that a copy of any size
// takes one block of memory.
bool HashStream(std::ifstream& in, SHA2_CTX& context, uint64_t& size) {
  std::array<char, 64 * 1024> block;
  while (in) {
    in.read(block.data(), block.size());
    std::streamsize got = in.gcount();
    if (got > 0) SHA256Update(&context, reinterpret_cast<const uint8_t*>(block.data()), static_cast<size_t>(got));
    size += static_cast<uint64_t>(got);
  }
  return in.eof() && !in.bad();
}
#endif

}  // namespace

bool ManifestAvailable() {
#ifdef TROVEX_HAVE_SHA256
  return true;
#else
  return false;
#endif
}

std::optional<FileDigest> DigestOfFile(const std::filesystem::path& file) {
#ifdef TROVEX_HAVE_SHA256
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  SHA2_CTX context;
  SHA256Init(&context);
  FileDigest digest;
  std::array<uint8_t, SHA256_DIGEST_LENGTH> hash;
  bool done = HashStream(in, context, digest.Size);
  SHA256Final(hash.data(), &context);
  if (!done) return std::nullopt;
  digest.Sha256 = HexBytes(std::string_view(reinterpret_cast<const char*>(hash.data()), hash.size()));
  return digest;
#else
  (void)file;
  return std::nullopt;
#endif
}

Manifest::Manifest(const std::filesystem::path& file) : file_(file), out_(file, std::ios::binary | std::ios::trunc) {
  if (!ManifestAvailable()) throw HostError(kExitUsage, "get --manifest is not in this build (it has no SHA-256)");
  out_ << kHeader << "\r\n" << std::flush;
  if (!out_) throw HostError(kExitFailed, "cannot write the manifest " + file.string());
}

bool Manifest::Add(std::string_view url, const std::optional<EntryRecord>& record,
                   const std::filesystem::path& target) {
  std::optional<FileDigest> digest = DigestOfFile(target);
  if (!digest) {
    ReportError("cannot read back the copy " + target.string() + " for the manifest");
    return false;
  }
  std::string row = CsvCell(url) + "," + CsvCell(record ? record->Container : std::string());
  for (uint64_t time : {record ? record->Modified : 0, record ? record->Expires : 0, record ? record->Accessed : 0,
                        record ? record->Synced : 0}) {
    row += "," + IsoTime(time);
  }
  row += "," + std::to_string(digest->Size) + "," + digest->Sha256 + "," + CsvCell(target.string()) + "\r\n";
  out_ << row << std::flush;
  if (!out_) ReportError("cannot write the manifest " + file_.string());
  return static_cast<bool>(out_);
}

}  // namespace trovex

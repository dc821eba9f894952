#include "platform/posix/stores/eseimage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace trovex {

namespace {

// Reads `length` bytes at `at` into `out`; false on an error or when the
// file ends first.
bool ReadFully(int fd, uint64_t at, uint64_t length, char* out) {
  uint64_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, out + done, length - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint64_t>(n);
  }
  return true;
}

}  // namespace

std::unique_ptr<FileEseImage> FileEseImage::Open(const std::string& path) {
  struct stat status {};
  UniqueFd fd = OpenWhole(path, status);
  if (!fd.Valid()) return nullptr;
  return std::unique_ptr<FileEseImage>(new FileEseImage(std::move(fd), static_cast<uint64_t>(status.st_size)));
}

ByteView FileEseImage::Read(uint64_t at, uint64_t length) const {
  if (at > size_ || length > size_ - at) return {};
  auto key = std::make_pair(at, length);
  if (auto found = pieces_.find(key); found != pieces_.end())
    return ByteView(std::string_view(found->second.get(), length));
  auto piece = std::make_unique_for_overwrite<char[]>(length);
  if (!ReadFully(fd_.Get(), at, length, piece.get())) return {};
  ByteView view(std::string_view(piece.get(), length));
  pieces_.emplace(key, std::move(piece));
  return view;
}

}  // namespace trovex

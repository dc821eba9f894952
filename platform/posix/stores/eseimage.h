// An ESE database read from its file a piece at a time, for the WebCache
// store: the reader asks for the header copies and the pages its walks
// reach, so a snapshot costs the pages of the tables it reads rather than a
// copy of the whole file. Internal to platform/posix.
#ifndef TROVEX_PLATFORM_POSIX_ESEIMAGE_H
#define TROVEX_PLATFORM_POSIX_ESEIMAGE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "formats/ese/Image.h"
#include "platform/posix/shared/fileio.h"

namespace trovex {

class FileEseImage final : public ese::Image {
 public:
  // The regular file at `path`; null with errno when it cannot be opened.
  static std::unique_ptr<FileEseImage> Open(const std::string& path);

  uint64_t Size() const override { return size_; }
  // Each piece is read once and kept until the image goes, so that the
  // views handed out stay valid; a piece the file no longer holds (it was
  // cut meanwhile) or that cannot be read is empty.
  ByteView Read(uint64_t at, uint64_t length) const override;

 private:
  FileEseImage(UniqueFd fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}

  UniqueFd fd_;
  uint64_t size_;
  mutable std::map<std::pair<uint64_t, uint64_t>, std::unique_ptr<char[]>> pieces_;  // by offset and length
};

}  // namespace trovex

#endif

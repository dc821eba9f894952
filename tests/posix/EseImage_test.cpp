// The pieces of a file that the ESE reader asks for: read once, valid while
// the image is, and empty rather than wrong when the file no longer holds
// them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/posix/stores/eseimage.h"
#include "tests/support/TempFolder.h"

using namespace trovex;

namespace {

std::string Bytes(size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes += static_cast<char>(i * 7 + i / 251);
  return bytes;
}

TEST(FileEseImage, PiecesAreTheFilesBytesAndStayWhereTheyWere) {
  TempFolder temp;
  std::string bytes = Bytes(40000);
  WriteFile(temp / "db", bytes);
  std::unique_ptr<FileEseImage> image = FileEseImage::Open(temp / "db");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->Size(), bytes.size());
  ByteView first = image->Read(32768, 7232);
  EXPECT_EQ(first.Bytes(), bytes.substr(32768));
  EXPECT_EQ(image->Read(0, 4096).Bytes(), bytes.substr(0, 4096));
  EXPECT_EQ(image->Read(0, 32768).Bytes(), bytes.substr(0, 32768));
  EXPECT_EQ(image->Read(32768, 7232).Bytes().data(), first.Bytes().data());
  EXPECT_EQ(first.Bytes(), bytes.substr(32768));
}

TEST(FileEseImage, PiecesOutsideTheFileOrCutFromItAreEmpty) {
  TempFolder temp;
  WriteFile(temp / "db", Bytes(40000));
  std::unique_ptr<FileEseImage> image = FileEseImage::Open(temp / "db");
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(image->Read(39999, 2).Empty());
  EXPECT_TRUE(image->Read(UINT64_MAX, 1).Empty());
  EXPECT_TRUE(image->Read(8, UINT64_MAX).Empty());
  ByteView kept = image->Read(0, 4096);
  ASSERT_EQ(truncate((temp / "db").c_str(), 20000), 0);
  EXPECT_TRUE(image->Read(16384, 8192).Empty());
  EXPECT_EQ(image->Read(0, 4096).Bytes(), kept.Bytes());
  EXPECT_EQ(image->Read(4096, 4096).Bytes(), Bytes(8192).substr(4096));
}

TEST(FileEseImage, OnlyARegularFileOpens) {
  TempFolder temp;
  EXPECT_EQ(FileEseImage::Open(temp / "missing"), nullptr);
  EXPECT_EQ(FileEseImage::Open(temp.path().string()), nullptr);
  ASSERT_EQ(mkfifo((temp / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(FileEseImage::Open(temp / "pipe"), nullptr);
}

}  // namespace

#include "fuzz/FuzzSystem.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "platform/posix/shared/fileio.h"

using namespace trovex;

namespace {

const FuzzSystemFolder* guarded = nullptr;

std::string TemporaryBase() {
  struct stat info {};
  if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  return std::filesystem::temp_directory_path().string();
}

bool IsStore(std::string_view name) {
  return name == "urlcache.txt" || name == "urlcache.txt.lock" || name == "urlcache.txt.deleted" ||
         name == "registry.reg" || name == "registry.reg.lock";
}

// The path that unlinkat(dir, name) names.
std::string PathAt(int dir, const char* name) {
  if (name[0] == '/') return name;
  if (dir == AT_FDCWD) return std::filesystem::current_path().string() + "/" + name;
  char folder[4096];
  ssize_t n = readlink(("/proc/self/fd/" + std::to_string(dir)).c_str(), folder, sizeof folder - 1);
  FUZZ_CHECK(n > 0);
  return std::string(folder, static_cast<size_t>(n)) + "/" + name;
}

// Where unlink(path) would take its file from, and whether that is allowed.
bool MayDelete(const FuzzSystemFolder& folder, std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return false;  // the code under test passes absolute paths
  std::string parent = RealPath(std::string(path.substr(0, slash == 0 ? 1 : slash)));
  if (parent.empty()) return true;  // nothing there to delete
  std::string_view name = path.substr(slash + 1);
  std::string inside = folder.Path() + "/";
  if (parent == folder.Path()) return !IsStore(name);
  return (parent + "/").starts_with(inside);
}

}  // namespace

// Every unlink() and unlinkat() of the code under test comes here first.
extern "C" int unlinkat(int dir, const char* name, int flags) {
  if (guarded != nullptr && !MayDelete(*guarded, PathAt(dir, name))) {
    std::fprintf(stderr, "deletion outside the system folder or of a store: %s\n", PathAt(dir, name).c_str());
    std::abort();
  }
  return static_cast<int>(syscall(SYS_unlinkat, dir, name, flags));
}

extern "C" int unlink(const char* path) {
  return unlinkat(AT_FDCWD, path, 0);
}

FuzzSystemFolder::FuzzSystemFolder() {
  std::string pattern = TemporaryBase() + "/trovex-fuzz-XXXXXX";
  FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
  path_ = RealPath(pattern);
  setenv("TROVEX_SYSTEM", path_.c_str(), 1);
}

FuzzSystemFolder::~FuzzSystemFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  std::filesystem::remove_all(path_ + "-outside", ignored);
}

void FuzzSystemFolder::Put(std::string_view name, std::string_view bytes) const {
  std::string target = File(name);
  std::filesystem::create_directories(std::filesystem::path(target).parent_path());
  std::string temporary = target + ".fuzz-new";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  FUZZ_CHECK(std::fclose(file) == 0 && written);
  FUZZ_CHECK(std::rename(temporary.c_str(), target.c_str()) == 0);
}

std::string FuzzSystemFolder::Read(std::string_view name) const {
  std::string bytes;
  std::FILE* file = std::fopen(File(name).c_str(), "rb");
  if (file == nullptr) return bytes;
  char chunk[65536];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
  std::fclose(file);
  return bytes;
}

bool FuzzSystemFolder::Exists(std::string_view name) const {
  struct stat info {};
  return lstat(File(name).c_str(), &info) == 0;
}

void FuzzSystemFolder::AddWaysOut() {
  std::string outside = path_ + "-outside";
  std::filesystem::create_directories(outside);
  std::FILE* keep = std::fopen((outside + "/keep").c_str(), "wb");
  FUZZ_CHECK(keep != nullptr);
  std::fclose(keep);
  std::error_code ignored;
  std::filesystem::create_directory_symlink(outside, File("out"), ignored);
  std::filesystem::create_symlink(outside + "/keep", File("out-file"), ignored);
}

const FuzzSystemFolder& trovex::FolderWithWaysOut() {
  static FuzzSystemFolder folder;
  static const bool ready = (folder.AddWaysOut(), true);
  (void)ready;
  return folder;
}

DeletionGuard::DeletionGuard(const FuzzSystemFolder& folder) {
  guarded = &folder;
}

DeletionGuard::~DeletionGuard() {
  guarded = nullptr;
}

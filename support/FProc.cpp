#include "support/FProc.h"

#include "platform/win32api.h"

namespace trovex {

namespace {

// A directory search, closed when it goes out of scope.
class FileSearch {
 public:
  explicit FileSearch(const std::string& pattern) : handle_(FindFirstFileA(pattern.c_str(), &first_)) {}
  ~FileSearch() {
    if (Found()) FindClose(handle_);
  }
  FileSearch(const FileSearch&) = delete;
  FileSearch& operator=(const FileSearch&) = delete;

  bool Found() const { return handle_ != INVALID_HANDLE_VALUE; }
  const WIN32_FIND_DATAA& First() const { return first_; }

 private:
  WIN32_FIND_DATAA first_{};
  HANDLE handle_;
};

}  // namespace

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  return FileSearch(path).Found();
}

uint64_t FileSizeOf(const std::string& path) {
  if (path.empty()) return 0;
  FileSearch search(path);
  if (!search.Found()) return 0;
  return uint64_t{search.First().nFileSizeHigh} << 32 | search.First().nFileSizeLow;
}

bool ShellRun(const std::string& file, const std::string& parameters, int showCommand, bool wait) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = showCommand;
  bool started = ShellExecuteExA(&info) != FALSE;
  if (started && wait && info.hProcess != nullptr) WaitForSingleObject(info.hProcess, INFINITE);
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  return started;
}

}  // namespace trovex

// Stands in for the web browser in the end-to-end run under Wine: writes the
// command line it was started with, and the arguments as the C runtime and as
// CommandLineToArgvW split it, to the file named like the program plus ".txt".
// The file appears complete or not at all: it is written under another name
// and renamed when closed, so that a watcher never reads half of it.
//
//   command line: <GetCommandLineA>
//   argc: <n>
//   argv[i]: <argument>               i from 0
//   CommandLineToArgvW: <n>
//   wargv[i]: <argument, as UTF-8>    i from 0
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// A LocalAlloc'ed block, freed when it goes out of scope.
template <typename T>
class LocalBlock {
 public:
  explicit LocalBlock(T* block) : block_(block) {}
  ~LocalBlock() {
    if (block_ != nullptr) LocalFree(block_);
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;
  T* get() const { return block_; }

 private:
  T* block_;
};

// A stdio file, closed when it goes out of scope.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

std::string ReportPath() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length) + ".txt";
}

std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();
  return bytes;
}

void WriteShellSplit(std::FILE* out) {
  int count = 0;
  LocalBlock<wchar_t*> words(CommandLineToArgvW(GetCommandLineW(), &count));
  if (words.get() == nullptr) count = 0;
  std::fprintf(out, "CommandLineToArgvW: %d\n", count);
  for (int i = 0; i < count; ++i) std::fprintf(out, "wargv[%d]: %s\n", i, Utf8(words.get()[i]).c_str());
}

bool WriteReport(const std::string& path, int argc, char** argv) {
  OutputFile report(path);
  if (report.get() == nullptr) return false;
  std::fprintf(report.get(), "command line: %s\n", GetCommandLineA());
  std::fprintf(report.get(), "argc: %d\n", argc);
  for (int i = 0; i < argc; ++i) std::fprintf(report.get(), "argv[%d]: %s\n", i, argv[i]);
  WriteShellSplit(report.get());
  return std::ferror(report.get()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = ReportPath();
  std::string partial = path + ".part";
  if (!WriteReport(partial, argc, argv)) return 1;
  return MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

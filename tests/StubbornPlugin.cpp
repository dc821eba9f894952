// A plug-in library whose fixed tree has a host folder that its site lists
// but that refuses its own listing, whose deletions are reported done but
// change nothing, and whose copy of one entry is reported done but writes no
// file: for the host's check that it counts what it did, not what it was told.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/fsplugin.h"

using namespace trovex;

namespace {

struct Item {
  const char* Name;
  bool Folder;
};

const std::vector<Item> kRoot = {{"(Reread cache)", false}, {"example.com", true}};
const std::vector<Item> kSite = {{"www.example.com", true}, {"locked.example.com", true}};
const std::vector<Item> kHost = {{"http://www.example.com/written", false}, {"http://www.example.com/unwritten", false}};

const std::vector<Item>* Listing(std::string_view path) {
  if (path == "\\") return &kRoot;
  if (path == "\\example.com") return &kSite;
  if (path == "\\example.com\\www.example.com") return &kHost;
  return nullptr;
}

const std::vector<Item>* open = nullptr;
size_t next = 0;

void Fill(const Item& item, WIN32_FIND_DATAA* record) {
  std::memset(record, 0, sizeof *record);
  std::snprintf(record->cFileName, sizeof record->cFileName, "%s", item.Name);
  record->dwFileAttributes = item.Folder ? FILE_ATTRIBUTE_DIRECTORY : 0;
  record->nFileSizeLow = item.Folder ? 0 : 7;
}

}  // namespace

extern "C" {

int32_t WINAPI FsInit(int32_t, FsProgressCallback, FsLogCallback, FsRequestCallback) {
  return 0;
}

void WINAPI FsGetDefRootName(char* name, int32_t maxLength) {
  if (name != nullptr && maxLength > 0) name[0] = '\0';
}

void WINAPI FsStatusInfo(const char*, int32_t, int32_t) {}

HANDLE WINAPI FsFindFirst(const char* path, WIN32_FIND_DATAA* record) {
  open = Listing(path);
  if (open == nullptr) return INVALID_HANDLE_VALUE;
  next = 1;
  Fill(open->front(), record);
  return reinterpret_cast<HANDLE>(1);
}

BOOL WINAPI FsFindNext(HANDLE, WIN32_FIND_DATAA* record) {
  if (open == nullptr || next >= open->size()) return kFsFalse;
  Fill((*open)[next++], record);
  return kFsTrue;
}

int32_t WINAPI FsFindClose(HANDLE) {
  open = nullptr;
  return 0;
}

int32_t WINAPI FsGetFile(const char* remoteName, char* localName, int32_t, void*) {
  if (std::string_view(remoteName).ends_with("/written")) {
    FILE* file = std::fopen(localName, "wb");
    if (file == nullptr) return kFsCopyFailed;
    std::fputs("written", file);
    std::fclose(file);
  }
  return kFsCopyOk;
}

BOOL WINAPI FsDeleteFile(const char*) {
  return kFsTrue;
}

int32_t WINAPI FsExecuteFile(HWND, char*, const char*) {
  return kFsExecError;
}

}  // extern "C"

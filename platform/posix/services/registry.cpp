// The registry's Reg* calls: key handles, and the store transaction that
// reads registry.reg in the system folder and writes it back under its lock.
// The file's format, and how a change is spliced into it, is regdocument's.
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/shared/fileio.h"
#include "platform/posix/shared/handles.h"
#include "platform/win32api.h"
#include "platform/posix/services/regdocument.h"
#include "platform/posix/shared/sysfolder.h"
#include "platform/posix/shared/win32error.h"

using namespace trovex;

namespace {

// The registry as the file holds it now; false with errno when the file
// exists but cannot be read. A missing file is an empty document.
bool LoadDocument(Document& doc) {
  if (ReadWholeFile(SystemFile(kRegistryStoreName), doc.raw)) {
    ParseDocument(doc);
    return true;
  }
  return errno == ENOENT || errno == ENOTDIR;
}

// Runs change(doc) on the registry under the store lock and writes the result
// back when change returns true. Returns the error code.
template <typename Change>
LSTATUS ChangeRegistry(Change change) {
  if (!MakeFolders(SystemFolder())) return static_cast<LSTATUS>(Win32Error(errno));
  std::string path = SystemFile(kRegistryStoreName);
  StoreLock lock(path);
  if (!lock.Held()) return static_cast<LSTATUS>(Win32Error(errno));
  Document doc;
  if (!LoadDocument(doc)) return static_cast<LSTATUS>(Win32Error(errno));
  if (!change(doc)) return ERROR_SUCCESS;
  if (!ReplaceFile(path, doc.raw)) return static_cast<LSTATUS>(Win32Error(errno));
  return ERROR_SUCCESS;
}

// ---- Keys -----------------------------------------------------------------

struct Key {
  std::string path;  // from the root's name on, as "HKEY_CURRENT_USER\Software\X"
};

TROVEX_MODULE_STATE HandleTable<Key> keys;

const char* RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_USERS) return "HKEY_USERS";
  return nullptr;
}

// The path of an open key or a root; nothing for a handle that is neither.
std::optional<std::string> KeyPath(HKEY key) {
  if (const char* root = RootName(key)) return std::string(root);
  if (std::shared_ptr<Key> open = keys.Find(key)) return open->path;
  return std::nullopt;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

std::string JoinKey(const std::string& base, LPCSTR subKey) {
  std::string sub = WithoutOuterBackslashes(subKey == nullptr ? "" : subKey);
  return sub.empty() ? base : base + "\\" + sub;
}

bool IsRootPath(std::string_view path) {
  return path.find('\\') == std::string_view::npos;
}

HKEY OpenHandle(std::string path) {
  return static_cast<HKEY>(keys.Add(std::make_unique<Key>(Key{std::move(path)})));
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::optional<std::string> base = KeyPath(root);
  if (!base) return ERROR_INVALID_HANDLE;
  std::string path = JoinKey(*base, subKey);
  if (!IsRootPath(path)) {
    Document doc;
    if (!LoadDocument(doc)) return static_cast<LSTATUS>(Win32Error(errno));
    if (!HasKey(doc, path)) return ERROR_FILE_NOT_FOUND;
  }
  *result = OpenHandle(std::move(path));
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                        LPDWORD disposition) {
  if (result == nullptr || subKey == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::optional<std::string> base = KeyPath(root);
  if (!base) return ERROR_INVALID_HANDLE;
  if (HasLineBreak(subKey)) return ERROR_INVALID_PARAMETER;
  std::string path = JoinKey(*base, subKey);
  bool created = false;
  if (!IsRootPath(path)) {
    LSTATUS status = ChangeRegistry([&](Document& doc) {
      if (HasKey(doc, path)) return false;
      AppendSection(doc, path, "");
      created = true;
      return true;
    });
    if (status != ERROR_SUCCESS) return status;
  }
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = OpenHandle(std::move(path));
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  std::optional<std::string> path = KeyPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  Document doc;
  if (!LoadDocument(doc)) return static_cast<LSTATUS>(Win32Error(errno));
  const Value* value = FindValue(doc, *path, name == nullptr ? "" : name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  DWORD needed = static_cast<DWORD>(value->data.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::optional<std::string> path = KeyPath(key);
  if (!path) return ERROR_INVALID_HANDLE;
  if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
  std::string_view valueName = name == nullptr ? "" : name;
  if (HasLineBreak(valueName)) return ERROR_INVALID_PARAMETER;
  std::string_view bytes(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size);
  return ChangeRegistry([&](Document& doc) {
    SetValue(doc, *path, valueName, type, bytes);
    return true;
  });
}

LSTATUS RegCloseKey(HKEY key) {
  if (RootName(key) != nullptr) return ERROR_SUCCESS;
  return keys.Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

#include "plugin/TreePath.h"

namespace trovex {

namespace {

constexpr char kSeparator = '\\';

// Splits the first part off rest, up to its first separator; rest keeps
// what follows the separator, or nothing when there is none.
std::string_view TakePart(std::string_view& rest) {
  size_t at = rest.find(kSeparator);
  std::string_view part = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
  return part;
}

}  // namespace

TreePath ParseTreePath(std::string_view path, std::string_view rereadEntry) {
  TreePath parsed;
  if (path.empty() || path == "\\") {
    parsed.Kind = PathKind::Root;
    return parsed;
  }
  if (path.front() != kSeparator) return parsed;
  std::string_view rest = path.substr(1);
  if (rest == rereadEntry) {
    parsed.Kind = PathKind::RereadEntry;
    return parsed;
  }
  parsed.Site = TakePart(rest);
  if (parsed.Site.empty()) return parsed;
  parsed.Kind = PathKind::Site;
  if (rest.empty()) return parsed;
  parsed.Host = TakePart(rest);
  if (parsed.Host.empty()) {
    parsed.Kind = PathKind::None;
    return parsed;
  }
  parsed.Kind = PathKind::Host;
  if (rest.empty()) return parsed;
  parsed.Entry = rest;
  parsed.Kind = PathKind::Entry;
  return parsed;
}

std::optional<FolderPath> FolderOf(const TreePath& path) {
  switch (path.Kind) {
    case PathKind::Root: return FolderPath{0, {}, {}};
    case PathKind::Site: return FolderPath{1, path.Site, {}};
    case PathKind::Host: return FolderPath{2, path.Site, path.Host};
    default: return std::nullopt;
  }
}

std::optional<CacheEntry> EntryOf(const TreePath& path, std::string_view rereadEntry) {
  if (path.Kind != PathKind::Entry) return std::nullopt;
  return TheFolderView.FindListedEntry(path.Site, path.Host, path.Entry, rereadEntry);
}

}  // namespace trovex

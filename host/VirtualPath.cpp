#include "host/VirtualPath.h"

namespace trovex {

namespace {

// Removes a leading "..", "." (each alone or before a "/" or "\") from text
// and applies it to folder; false when nothing was removed.
bool TakeRelativeStep(std::string_view& text, VirtualPath& folder, bool& climbedTooHigh) {
  for (std::string_view step : {"..", "."}) {
    if (!text.starts_with(step)) continue;
    std::string_view rest = text.substr(step.size());
    if (!rest.empty() && rest.front() != '/' && rest.front() != '\\') continue;
    if (step == "..") {
      if (folder.IsRoot()) climbedTooHigh = true;
      folder = folder.Parent();
    }
    text = rest.empty() ? rest : rest.substr(1);
    return true;
  }
  return false;
}

// Splits text at separator into the parts below folder: as many as the
// levels left, the last one taking the rest whole.
std::vector<std::string> SplitBelow(std::string_view text, char separator, size_t level) {
  std::vector<std::string> parts;
  while (level + parts.size() + 1 < kEntryLevel) {
    size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    parts.emplace_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.emplace_back(text);
  return parts;
}

bool IsFolderPartValid(const std::string& part) {
  return !part.empty() && part.find('\\') == std::string::npos;
}

}  // namespace

std::string VirtualPath::HostForm() const {
  if (Parts.empty()) return "\\";
  std::string form;
  for (const std::string& part : Parts) form += "\\" + part;
  return form;
}

VirtualPath VirtualPath::Parent() const {
  VirtualPath parent = *this;
  if (!parent.Parts.empty()) parent.Parts.pop_back();
  return parent;
}

VirtualPath VirtualPath::Child(const std::string& name) const {
  VirtualPath child = *this;
  child.Parts.push_back(name);
  return child;
}

std::optional<VirtualPath> ParseVirtualPath(std::string_view text, const VirtualPath& base) {
  VirtualPath path = base;
  char separator = '/';
  if (text.starts_with('\\') || text.starts_with('/')) {
    separator = text.front();
    path = VirtualPath{};
    text.remove_prefix(1);
  } else {
    bool climbedTooHigh = false;
    while (TakeRelativeStep(text, path, climbedTooHigh)) {
    }
    if (climbedTooHigh) return std::nullopt;
  }
  if (text.empty() || path.Level() >= kEntryLevel) return text.empty() ? std::optional(path) : std::nullopt;

  std::vector<std::string> parts = SplitBelow(text, separator, path.Level());
  // One trailing separator after a folder names that folder.
  if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
  for (std::string& part : parts) path.Parts.push_back(std::move(part));
  for (size_t i = 0; i < path.Parts.size() && i < kEntryLevel - 1; ++i) {
    if (!IsFolderPartValid(path.Parts[i])) return std::nullopt;
  }
  return path;
}

}  // namespace trovex

// ParseTreePath on any path a host can pass, and any RereadEntry text: the
// input is the path, a NUL, and the text. The parts it finds are the path's
// own bytes, and put back together they give the path again.
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "plugin/TreePath.h"

using namespace trovex;

namespace {

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

// The path the parts spell, without a trailing backslash.
std::string Joined(const TreePath& parsed) {
  std::string path = "\\" + std::string(parsed.Site);
  if (parsed.Kind == PathKind::Host || parsed.Kind == PathKind::Entry) path += "\\" + std::string(parsed.Host);
  if (parsed.Kind == PathKind::Entry) path += "\\" + std::string(parsed.Entry);
  return path;
}

// True when the site part, or a host part followed by more, is empty.
bool HasEmptyFolderPart(std::string_view path) {
  size_t site = path.find('\\', 1);
  if (site == 1) return true;
  if (site == std::string_view::npos) return false;
  size_t host = path.find('\\', site + 1);
  return host == site + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  std::string_view path = input.Part();
  std::string_view reread = input.Rest();
  TreePath parsed = ParseTreePath(path, reread);

  FUZZ_CHECK(Inside(parsed.Site, path) && Inside(parsed.Host, path) && Inside(parsed.Entry, path));
  FUZZ_CHECK((parsed.Kind == PathKind::Root) == (path.empty() || path == "\\"));
  bool isReread = parsed.Kind == PathKind::RereadEntry;
  FUZZ_CHECK(isReread == (path.size() > 1 && path.substr(1) == reread && path.front() == '\\'));
  switch (parsed.Kind) {
    case PathKind::Root:
    case PathKind::RereadEntry:
      FUZZ_CHECK(parsed.Site.empty() && parsed.Host.empty() && parsed.Entry.empty());
      break;
    case PathKind::None:
      // Nothing else reads it: no leading backslash, or an empty part.
      FUZZ_CHECK(path.front() != '\\' || HasEmptyFolderPart(path));
      break;
    case PathKind::Site:
    case PathKind::Host: {
      std::string joined = Joined(parsed);
      FUZZ_CHECK(path == joined || path == joined + "\\");
      FUZZ_CHECK(parsed.Site.find('\\') == std::string_view::npos && !parsed.Site.empty());
      FUZZ_CHECK(parsed.Host.find('\\') == std::string_view::npos);
      FUZZ_CHECK((parsed.Kind == PathKind::Host) == !parsed.Host.empty());
      break;
    }
    case PathKind::Entry:
      FUZZ_CHECK(path == Joined(parsed));
      FUZZ_CHECK(!parsed.Site.empty() && !parsed.Host.empty() && !parsed.Entry.empty());
      FUZZ_CHECK(parsed.Site.find('\\') == std::string_view::npos && parsed.Host.find('\\') == std::string_view::npos);
      break;
  }
  // A folder's path is a listing; nothing else is.
  bool folder = parsed.Kind == PathKind::Root || parsed.Kind == PathKind::Site || parsed.Kind == PathKind::Host;
  FUZZ_CHECK(FolderOf(parsed).has_value() == folder);
  return 0;
}

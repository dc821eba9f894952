// Paths of the virtual tree in the plug-in's form and the form without
// backslashes.
#include "host/VirtualPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace trovex;

namespace {

struct PathCase {
  std::string Text;
  std::vector<std::string> Base;  // the folder relative paths start from
  std::string HostForm;           // empty: the text is no path
};

const std::vector<PathCase> kPathCases = {
    {"", {}, "\\"},
    {"/", {}, "\\"},
    {"\\", {}, "\\"},
    {"example.com", {}, "\\example.com"},
    {"example.com/", {}, "\\example.com"},
    {"/example.com", {}, "\\example.com"},
    {"\\example.com\\", {}, "\\example.com"},
    {"example.com/www.example.com", {}, "\\example.com\\www.example.com"},
    {"example.com/www.example.com/", {}, "\\example.com\\www.example.com"},
    {"example.com/www.example.com/http://www.example.com/a.gif", {},
     "\\example.com\\www.example.com\\http://www.example.com/a.gif"},
    {"\\example.com\\www.example.com\\http://www.example.com/a\\b", {},
     "\\example.com\\www.example.com\\http://www.example.com/a\\b"},
    {"\\example.com\\www.example.com:8080", {}, "\\example.com\\www.example.com:8080"},
    {"www.example.com", {"example.com"}, "\\example.com\\www.example.com"},
    {"http://www.example.com/", {"example.com", "www.example.com"},
     "\\example.com\\www.example.com\\http://www.example.com/"},
    {"..", {"example.com", "www.example.com"}, "\\example.com"},
    {"../img.example.com", {"example.com", "www.example.com"}, "\\example.com\\img.example.com"},
    {"../..", {"example.com"}, ""},
    {".", {"example.com"}, "\\example.com"},
    {"/example.co.uk", {"example.com"}, "\\example.co.uk"},
    {"example.com//x", {}, ""},
    {"a\\b/host", {}, ""},
    {"..", {}, ""},
};

TEST(ParseVirtualPath, ReadsBothFormsAndRelativePaths) {
  for (const PathCase& c : kPathCases) {
    std::optional<VirtualPath> path = ParseVirtualPath(c.Text, VirtualPath{c.Base});
    if (c.HostForm.empty()) {
      EXPECT_FALSE(path.has_value()) << "text: " << c.Text;
    } else {
      ASSERT_TRUE(path.has_value()) << "text: " << c.Text;
      EXPECT_EQ(path->HostForm(), c.HostForm) << "text: " << c.Text;
    }
  }
}

TEST(ParseVirtualPath, KeepsTheSlashesOfAUrlInOnePart) {
  std::optional<VirtualPath> path = ParseVirtualPath("s/h/http://h/a/b/c");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->Level(), kEntryLevel);
  EXPECT_EQ(path->Name(), "http://h/a/b/c");
}

TEST(VirtualPath, ParentOfTheRootIsTheRoot) {
  EXPECT_TRUE(VirtualPath{}.Parent().IsRoot());
  VirtualPath host{{"s", "h"}};
  EXPECT_EQ(host.Parent().HostForm(), "\\s");
}

}  // namespace

// Local file names for the names of the virtual tree.
#include "host/LocalNames.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct NameCase {
  std::string Name;
  std::string Local;
};

const std::vector<NameCase> kNameCases = {
    {"www.example.com", "www.example.com"},
    {"www.example.com:8080", "www.example.com%3A8080"},
    {"http://www.example.com/a.gif", "http%3A%2F%2Fwww.example.com%2Fa.gif"},
    {"http://h/search?q=a*b", "http%3A%2F%2Fh%2Fsearch%3Fq=a%2Ab"},
    {"Cookie:demo@example.com/", "Cookie%3Ademo@example.com%2F"},
    {"a\\b|c\"d<e>f", "a%5Cb%7Cc%22d%3Ce%3Ef"},
    {"100%", "100%25"},
    {"tab\there\nnew", "tab%09here%0Anew"},
    {"with space", "with%20space"},
    {"caf\xc3\xa9", "caf\xc3\xa9"},
    {"#hash", "%23hash"},
    {".", "%2E"},
    {"..", "%2E%2E"},
    {".hidden", "%2Ehidden"},
    {"trailing.", "trailing%2E"},
    {"CON", "%43ON"},
    {"nul.txt", "%6Eul.txt"},
    {"console", "console"},
    {"", "#"},
};

TEST(LocalNameFor, EscapesWhatDoesNotBelongInAFileName) {
  for (const NameCase& c : kNameCases) {
    EXPECT_EQ(LocalNameFor(c.Name), c.Local) << "name: " << c.Name;
  }
}

TEST(LocalNameFor, NeverLeavesASeparatorOrAFolderStep) {
  for (const NameCase& c : kNameCases) {
    std::string local = LocalNameFor(c.Name);
    EXPECT_EQ(local.find_first_of("/\\:?*\"<>|"), std::string::npos) << local;
    EXPECT_NE(local, ".");
    EXPECT_NE(local, "..");
    EXPECT_FALSE(local.empty());
  }
}

TEST(LocalNameFor, GivesDistinctNamesForNamesThatLookAlike) {
  std::vector<std::string> names = {"a/b", "a_b", "a%2Fb", "a:b", "a%3Ab", ".a", "%2Ea", "CON", "%43ON",
                                    "con", "", "#", "%", "%25"};
  std::set<std::string> locals;
  for (const std::string& name : names) locals.insert(LocalNameFor(name));
  EXPECT_EQ(locals.size(), names.size());
}

TEST(LocalNameFor, CutsLongNamesAndKeepsThemApart) {
  std::string base = "http://www.example.com/" + std::string(300, 'x');
  std::string one = LocalNameFor(base + "1");
  std::string two = LocalNameFor(base + "2");
  EXPECT_LE(one.size(), kMaxLocalNameLength);
  EXPECT_NE(one, two);
  EXPECT_NE(one.find('#'), std::string::npos);
  EXPECT_EQ(one.substr(0, 8), "http%3A%");
}

TEST(LocalNameFor, NeverCutsInsideAnEscape) {
  // Every length of prefix puts the cut at another place among the escapes.
  for (size_t prefix = 0; prefix < 3; ++prefix) {
    std::string name = std::string(prefix, 'p') + std::string(300, ':');
    std::string local = LocalNameFor(name);
    std::string kept = local.substr(0, local.find('#'));
    ASSERT_EQ((kept.size() - prefix) % 3, 0u) << local;
    EXPECT_LE(local.size(), kMaxLocalNameLength);
  }
}

TEST(LocalNameFor, NeverCutsInsideAMultiByteCharacter) {
  std::string name = "x";
  for (int i = 0; i < 150; ++i) name += "\xc3\xa9";
  std::string local = LocalNameFor(name);
  std::string kept = local.substr(0, local.find('#'));
  EXPECT_EQ((kept.size() - 1) % 2, 0u);
  EXPECT_EQ(kept.back(), '\xa9');
}

}  // namespace

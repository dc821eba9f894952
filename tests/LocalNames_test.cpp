// Local file names for the names of the virtual tree.
#include "host/LocalNames.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

using namespace trovex;

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
    {"caf\xc3\xa9", "caf%C3%A9"},
    {"\xe9t\xe9", "%E9t%E9"},
    {"#hash", "%23hash"},
    {".", "%2E"},
    {"..", "%2E%2E"},
    {".hidden", "%2Ehidden"},
    {"trailing.", "trailing%2E"},
    {"CON", "%43ON"},
    {"nul.txt", "%6Eul.txt"},
    {"COM0", "%43OM0"},
    {"lpt0.txt", "%6Cpt0.txt"},
    {"CONIN$", "%43ONIN$"},
    {"COM\xc2\xb9", "%43OM%C2%B9"},
    {"lpt\xc2\xb2.log", "%6Cpt%C2%B2.log"},
    {"LPT\xb3.log", "%4CPT%B3.log"},
    {"COM\xb9", "%43OM%B9"},
    {"COM10", "COM10"},
    {"COM\xc2\xb4", "COM%C2%B4"},
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

TEST(LocalNameFor, KeepsNamesApartOnFileSystemsThatIgnoreCase) {
  // Each pair differs only in the letter case of non-ASCII letters, or in
  // how a letter is composed, which such file systems may merge.
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"http://h/\xc3\xa9t\xc3\xa9", "http://h/\xc3\x89t\xc3\xa9"},
      {"http://h/\xcf\x83", "http://h/\xce\xa3"},
      {"http://h/\xe9", "http://h/\xc9"},
      {"http://h/\xc3\xa9", "http://h/e\xcc\x81"},
      {"http://h/\xd0\xb4" + std::string(200, 'x'), "http://h/\xd0\x94" + std::string(200, 'x')},
  };
  auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  for (const auto& [one, two] : pairs) {
    std::string localOne = LocalNameFor(one);
    std::string localTwo = LocalNameFor(two);
    EXPECT_NE(folded(localOne), folded(localTwo)) << localOne << " and " << localTwo;
    for (char c : localOne + localTwo) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << localOne << localTwo;
  }
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
  // "\xc3\xa9" is escaped as six bytes; every prefix length moves the cut.
  for (size_t prefix = 0; prefix < 6; ++prefix) {
    std::string name = std::string(prefix, 'p');
    for (int i = 0; i < 150; ++i) name += "\xc3\xa9";
    std::string local = LocalNameFor(name);
    std::string kept = local.substr(0, local.find('#'));
    EXPECT_EQ((kept.size() - prefix) % 6, 0u) << local;
    EXPECT_TRUE(kept.ends_with("%C3%A9")) << local;
    EXPECT_LE(local.size(), kMaxLocalNameLength);
  }
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32api.h"
#include "tests/support/StartingGate.h"
#include "tests/support/SystemFolder.h"

using namespace trovex;

namespace {

// UTF-8 (up to two-byte sequences, all these tests use) to UTF-16LE with a
// byte-order mark, and every LF to CRLF: the file as the registry editor
// writes it.
std::string AsRegeditFile(std::string_view text) {
  std::string out = "\xFF\xFE";
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned code = static_cast<unsigned char>(text[i]);
    if ((code & 0xE0) == 0xC0) code = ((code & 0x1F) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F);
    if (code == '\n') out += std::string("\r\0", 2);
    out += static_cast<char>(code & 0xFF);
    out += static_cast<char>(code >> 8);
  }
  return out;
}

const char kSample[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Trovex Test]\n"
    "@=\"default text\"\n"
    "\"Text\"=\"say \\\"hi\\\" C:\\\\dir\\\\\"\n"
    "\"Number\"=dword:0000002a\n"
    "; a comment\n"
    "\"Broken\"=dword:xyz\n"
    "\"Unclosed=\"abc\"\n"
    "just garbage\n"
    "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"Blob\"=hex:01,02,ff\n"
    "\"Accent\"=\"caf\xC3\xA9\"\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\n"
    "\"Number\"=dword:00000001\n";

struct Stored {
  const char* name;
  DWORD type;
  std::string data;
};

std::string Range(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(i);
  return bytes;
}

const std::vector<Stored>& SampleValues() {
  static const std::vector<Stored> values = {
      {"", REG_SZ, std::string("default text\0", 13)},
      {"text", REG_SZ, std::string("say \"hi\" C:\\dir\\\0", 17)},
      {"NUMBER", REG_DWORD, std::string("\x2a\0\0\0", 4)},
      {"Expand", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
      {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"Blob", REG_BINARY, "\x01\x02\xff"},
      {"Accent", REG_SZ, std::string("caf\xC3\xA9\0", 6)},
      {"Long", REG_BINARY, Range(32)},
  };
  return values;
}

// The value's type and bytes through the two-call protocol.
bool Query(HKEY key, const char* name, DWORD& type, std::string& data) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  data.assign(size, '\0');
  return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
         ERROR_SUCCESS;
}

void ExpectSampleValues(const char* label) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\TROVEX TEST", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS)
      << label;
  for (const Stored& expected : SampleValues()) {
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(Query(key, expected.name, type, data)) << label << " " << expected.name;
    EXPECT_EQ(type, expected.type) << label << " " << expected.name;
    EXPECT_EQ(data, expected.data) << label << " " << expected.name;
  }
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Broken", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

std::string WithLine(std::string text, std::string_view after, std::string_view line) {
  size_t at = text.find(after);
  EXPECT_NE(at, std::string::npos) << after;
  return text.insert(at + after.size(), line);
}

class Registry : public ::testing::Test {
 protected:
  TempSystemFolder folder;

  HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }
  void SetDword(HKEY key, const char* name, DWORD value) {
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
              ERROR_SUCCESS);
  }
  void SetText(HKEY key, const char* name, std::string_view text) {
    std::string data(text);
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1)),
              ERROR_SUCCESS);
  }
};

TEST_F(Registry, ReadsEveryValueTypeIgnoringCaseAndSkippingBadLines) {
  folder.Write("registry.reg", kSample);
  ExpectSampleValues("8-bit LF");
}

TEST_F(Registry, Utf16FileWithCrlfReadsTheSame) {
  folder.Write("registry.reg", AsRegeditFile(kSample));
  ExpectSampleValues("UTF-16LE CRLF");
}

TEST_F(Registry, QueryKeepsTheSizeProtocol) {
  folder.Write("registry.reg", kSample);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Trovex Test", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, sizeof "default text");

  char buffer[64] = "untouched";
  DWORD small = size - 1;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &small),
            ERROR_MORE_DATA);
  EXPECT_EQ(small, size);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(Registry, KeysExistWhenTheFileHoldsThemOrTheirSubkeys) {
  folder.Write("registry.reg", kSample);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Trovex", 0, KEY_QUERY_VALUE, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Trovex Test", 0, KEY_QUERY_VALUE, &key),
            ERROR_FILE_NOT_FOUND);
  std::filesystem::remove(folder.File("registry.reg"));
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, WritesANewFileInTheSimpleFormat) {
  std::string nested = folder.Path() + "/not/yet";
  setenv("TROVEX_SYSTEM", nested.c_str(), 1);
  DWORD disposition = 0;
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Trovex\\Test", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  SetDword(key, "GlobalUserOffline", 1);
  SetText(key, "Name", "a \"q\" \\");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  RegCloseKey(Create(HKEY_CURRENT_USER, "software\\trovex\\test", &disposition));
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  EXPECT_EQ(TempSystemFolder::ReadBytes(nested + "/registry.reg"),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Trovex\\Test]\n"
            "\"GlobalUserOffline\"=dword:00000001\n"
            "\"Name\"=\"a \\\"q\\\" \\\\\"\n");
}

TEST_F(Registry, WritesKeepEveryOtherLineByteForByte) {
  const std::string before =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; hand-written\r\n"
      "[HKEY_CURRENT_USER\\Software\\A]\r\n"
      "\"Keep\"  =  \"spaced\"\r\n"
      "\"Offline\"=dword:00000000\r\n"
      "this line is garbage\r\n"
      "\"Other\"=hex:01,\\\r\n"
      "  02\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Software\\B]\r\n"
      "\"x\"=\"y\"";
  folder.Write("registry.reg", before);

  HKEY a = Create(HKEY_CURRENT_USER, "Software\\A");
  SetDword(a, "offline", 1);
  SetText(a, "Added", "v");
  HKEY c = Create(HKEY_CURRENT_USER, "Software\\C");
  SetDword(c, "New", 5);
  RegCloseKey(a);
  RegCloseKey(c);

  std::string expected = before;
  expected.replace(expected.find("dword:00000000"), 14, "dword:00000001");
  expected = WithLine(expected, "  02\r\n", "\"Added\"=\"v\"\r\n");
  expected += "\r\n\r\n[HKEY_CURRENT_USER\\Software\\C]\r\n\"New\"=dword:00000005\r\n";
  EXPECT_EQ(folder.Read("registry.reg"), expected);
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
  }
}

TEST_F(Registry, WritesKeepAUtf16FileUtf16) {
  const std::string before =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\U]\n"
      "\"Name\"=\"caf\xC3\xA9\"\n";
  folder.Write("registry.reg", AsRegeditFile(before));
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\U");
  SetText(key, "Name", "th\xC3\xA9");
  SetDword(key, "Count", 2);

  std::string expected = before;
  expected.replace(expected.find("caf\xC3\xA9"), 5, "th\xC3\xA9");
  expected += "\"Count\"=dword:00000002\n";
  EXPECT_EQ(folder.Read("registry.reg"), AsRegeditFile(expected));
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(Query(key, "name", type, data));
  EXPECT_EQ(data, std::string("th\xC3\xA9\0", 5));
  RegCloseKey(key);
}

TEST_F(Registry, WritesToAUtf16FileCutMidCharacterReadBack) {
  folder.Write("registry.reg", AsRegeditFile("Windows Registry Editor Version 5.00\n") + "\x41");
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Odd");
  SetDword(key, "Value", 7);
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(Query(key, "Value", type, data));
  EXPECT_EQ(data, std::string("\x07\0\0\0", 4));
  RegCloseKey(key);
}

TEST_F(Registry, ValuesOfEveryTypeReadBackAsWritten) {
  const std::vector<Stored> cases = {
      {"Plain", REG_SZ, std::string("C:\\x \"y\"\0", 9)},
      {"Lines", REG_SZ, std::string("one\r\ntwo\0", 9)},
      {"Expand", REG_EXPAND_SZ, std::string("%HOME%/\xC3\xA9\0", 10)},
      {"Multi", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
      {"Binary", REG_BINARY, Range(100)},
      {"Short", REG_DWORD, "\x01\x02"},
      {"Empty", REG_SZ, std::string("\0", 1)},
  };
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Types");
  for (const Stored& value : cases)
    ASSERT_EQ(RegSetValueExA(key, value.name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS)
        << value.name;
  for (const Stored& value : cases) {
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(Query(key, value.name, type, data)) << value.name;
    EXPECT_EQ(type, value.type) << value.name;
    EXPECT_EQ(data, value.data) << value.name;
  }
  RegCloseKey(key);
}

// Each continuation line once asked again whether the joined line was a hex
// value, reading its whole name each time: this 340 KB file took minutes.
TEST_F(Registry, AValueContinuedOverManyLinesWithALongNameReadsInOnePass) {
  const std::string name(200000, 'n');
  std::string file = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Long]\n\"" + name +
                     "\"=hex:00,\\\n";
  for (int i = 0; i < 20000; ++i) file += "  01,\\\n";
  file += "  02\n";
  folder.Write("registry.reg", file);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Long", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  DWORD type = 0;
  std::string data;
  ASSERT_TRUE(Query(key, name.c_str(), type, data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(data, '\0' + std::string(20000, '\x01') + '\x02');
  RegCloseKey(key);
}

TEST_F(Registry, WritersInSeveralProcessesLoseNoValue) {
  const int kWriters = 4, kPerWriter = 15;
  folder.Write("registry.reg", kSample);
  StartingGate gate;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.push_back(gate.Start([w] {
      HKEY key = nullptr;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return false;
      bool ok = true;
      for (int i = 0; i < kPerWriter; ++i) {
        DWORD value = static_cast<DWORD>(w * 100 + i);
        std::string name = "W" + std::to_string(w) + "." + std::to_string(i);
        ok = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) ==
                 ERROR_SUCCESS &&
             ok;
      }
      return RegCloseKey(key) == ERROR_SUCCESS && ok;
    }));
  }
  gate.Open();
  for (pid_t writer : writers) EXPECT_TRUE(Succeeded(writer));

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      std::string name = "W" + std::to_string(w) + "." + std::to_string(i);
      DWORD type = 0;
      std::string data;
      ASSERT_TRUE(Query(key, name.c_str(), type, data)) << name;
      DWORD value = static_cast<DWORD>(w * 100 + i);
      EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(&value), 4)) << name;
    }
  }
  RegCloseKey(key);
  ExpectSampleValues("after the writers");
}

TEST_F(Registry, BadArgumentsAndHandlesFailWithoutHarm) {
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Z");
  char buffer[8];
  EXPECT_EQ(RegQueryValueExA(key, "x", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExA(key, "bad\nname", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

}  // namespace

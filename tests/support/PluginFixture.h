// A test fixture with a library folder and a system folder of its own.
#ifndef TROVEX_TESTS_SUPPORT_PLUGINFIXTURE_H
#define TROVEX_TESTS_SUPPORT_PLUGINFIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/LoadedPlugin.h"
#include "tests/support/SystemFolder.h"
#include "tests/support/TempFolder.h"

namespace trovex {

constexpr char kEnglishMessages[] =
    "[English]\n"
    "1=Trovex test\n"
    "2=(Reread)\n"
    "3=Version %s, browser %s, cache %s\n"
    "4=Open %s?\n";

class PluginTest : public ::testing::Test {
 protected:
  PluginTest() : system_(temp_ / "system"), scope_(system_) {
    std::filesystem::create_directories(system_);
    WriteFile(Lib("Trovex.lng"), kEnglishMessages);
    WriteIni("Language=English\n");
  }

  // The library's folder, and a file in it.
  std::string Lib(const std::string& name = "") const { return (temp_.path() / "lib" / name).string(); }
  // The system folder, and a file in it.
  std::string System(const std::string& name = "") const { return (temp_.path() / "system" / name).string(); }
  std::string Temp(const std::string& name) const { return temp_ / name; }

  void WriteIni(const std::string& options) { WriteFile(Lib("Trovex.ini"), "[Options]\n" + options); }
  void WriteCache(const std::string& lines) { WriteFile(System("urlcache.txt"), lines); }
  void WriteRegistry(const std::string& keys) {
    WriteFile(System("registry.reg"), "Windows Registry Editor Version 5.00\n\n" + keys);
  }

  // Unloads the library if loaded, loads a fresh copy and, unless told not
  // to, calls FsInit.
  LoadedPlugin& Load(bool init = true) {
    // The copy goes over the library's file: the loaded one must go first.
    plugin_.reset();
    plugin_ = std::make_unique<LoadedPlugin>(temp_.path() / "lib");
    if (init) plugin_->Init();
    return *plugin_;
  }
  LoadedPlugin& plugin() { return *plugin_; }

 private:
  TempFolder temp_;
  std::string system_;
  SystemFolderScope scope_;
  std::unique_ptr<LoadedPlugin> plugin_;
};

}  // namespace trovex

#endif

// What the tests that run the built trovex on copies of the real index.dat
// samples share: the samples, and a fixture with a temporary folder of its
// own holding an empty system folder. Header alone: only those tests, built
// with TROVEX_INDEXDAT_SAMPLES, include it.
#ifndef TROVEX_TESTS_SUPPORT_SAMPLEPROGRAM_H
#define TROVEX_TESTS_SUPPORT_SAMPLEPROGRAM_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/RunProgram.h"
#include "tests/support/TempFolder.h"

namespace trovex {

inline const std::string kSamples = TROVEX_INDEXDAT_SAMPLES;
inline const std::string kContent = kSamples + "/greendale/Content.IE5/index.dat";
inline const std::string kHistory = kSamples + "/greendale/History.IE5/index.dat";
inline const std::string kDaily = kSamples + "/daily-history/index.dat";

class SampleProgramTest : public ::testing::Test {
 protected:
  SampleProgramTest() { std::filesystem::create_directories(Temp("system")); }

  std::string Temp(const std::string& name) const { return temp_ / name; }

  // Copies sample to the index.dat of folder (below the temporary folder).
  std::string Container(const std::string& folder, const std::string& sample) {
    return CopyContainer(Temp(folder), sample);
  }

 private:
  TempFolder temp_;
};

}  // namespace trovex

#endif

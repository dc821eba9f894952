// Reading keys from ini files through the system's profile reader.
#ifndef TROVEX_SUPPORT_INIFILE_H
#define TROVEX_SUPPORT_INIFILE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace trovex {

// The settings file that IniReadString and IniReadInteger read.
extern std::string IniFileName;

// Releases IniFileName; runs when the library unloads.
void IniFileFinalize();

// The value of key in section of the ini file fileName, cut to 5120 bytes;
// fallback when fileName is empty or the file, section or key is missing.
std::string IniReadStringFrom(const std::string& section, const std::string& key,
                              const std::string& fallback, const std::string& fileName);

// IniReadStringFrom on IniFileName.
std::string IniReadString(const std::string& section, const std::string& key,
                          const std::string& fallback);

// The value of key in section of IniFileName, cut to 10 bytes and parsed by
// TextToIntDef with fallback 0; fallback when IniFileName is empty or the
// file, section or key is missing.
int32_t IniReadInteger(const std::string& section, const std::string& key, int32_t fallback);

// The number text holds in full: optional leading spaces, then a signed
// decimal number within 32 bits, or a hexadecimal one after "$", "x" or "0x"
// of at most 32 bits (read as signed). fallback for anything else.
int32_t TextToIntDef(std::string_view text, int32_t fallback);

}  // namespace trovex

#endif

// Values of Wine's user.reg, the registry file a Wine prefix keeps, whose
// text came with the prefix and may be anything. Only the Shell Folders
// key's plain string values are read: the folders of the URL cache's
// containers. What cannot be read is taken as missing. Pure, so that the
// fuzz target reads it without a system layer.
#ifndef TROVEX_FORMATS_USERREG_USERREG_H
#define TROVEX_FORMATS_USERREG_USERREG_H

#include <optional>
#include <string>
#include <string_view>

namespace trovex {

// The string value `name` of the Shell Folders key in the text of a Wine
// user.reg, unescaped; nullopt when it is missing or not a plain string.
std::optional<std::string> ShellFolderValue(std::string_view userReg, std::string_view name);

// The Linux path of the Windows path `windowsPath` ("C:\users\...") in the
// prefix, its drive reached through dosdevices/; nullopt for anything but an
// absolute path on a drive letter, or one with "." or ".." or control
// characters in it.
std::optional<std::string> PrefixPath(const std::string& prefix, std::string_view windowsPath);

}  // namespace trovex

#endif

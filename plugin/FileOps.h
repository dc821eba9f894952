// Copying entries out of the cache and deleting them.
#ifndef TROVEX_PLUGIN_FILEOPS_H
#define TROVEX_PLUGIN_FILEOPS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace trovex {

// Copies the local file of the entry at remotePath to localPath, or writes
// the one-byte placeholder "?" for the RereadEntry: kFsCopyOk when the copy
// was made in full; kFsCopyExists when localPath exists and copyFlags lacks
// kFsCopyOverwrite (nothing is written); kFsCopyFailed otherwise.
int32_t CopyEntryOut(std::string_view remotePath, const std::string& localPath, int32_t copyFlags);

// Deletes the entry at remotePath from the URL cache; true only when the
// cache deleted it. The snapshot keeps it until the next refill.
bool DeleteEntry(std::string_view remotePath);

}  // namespace trovex

#endif

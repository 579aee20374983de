// Wine prefixes: whether a prefix's wine server is running. While it runs it
// keeps the prefix's registry in memory and writes it back over user.reg, so an
// edit made to the file meanwhile would be lost.
#pragma once

#include <string>
#include <vector>

namespace moatgate {

// The folder of the prefix whose user.reg `storeFile` is, or empty when the
// file's folder is no Wine prefix (holds no system.reg). The file's real path
// counts: a link to a prefix's user.reg belongs to that prefix.
std::string WinePrefixOf(const std::string& storeFile);

// The folders a server of the prefix would hold its lock file in: under `tmp`,
// Wine's own (".wine-<uid>", for the uid that owns the prefix and for our own)
// and Debian's (the folder the prefix's "wineserver" file names, also under
// $TMPDIR).
std::vector<std::string> WineServerFolders(const std::string& prefix, const std::string& tmp = "/tmp");

// True while a wine server runs for the prefix.
bool WineServerRunning(const std::string& prefix, const std::string& tmp = "/tmp");

// Why the store file must not be written now, or empty when it may be.
std::string WinePrefixBusyReason(const std::string& prefix);

}  // namespace moatgate

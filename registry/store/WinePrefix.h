// Wine prefixes: whether a prefix's wine server is running. While it runs it
// keeps the prefix's registry in memory and writes it back over user.reg, so an
// edit made to the file meanwhile would be lost.
#pragma once

#include <string>

namespace moatgate {

// The folder of the prefix whose user.reg `storeFile` is, or empty when the
// file's folder is no Wine prefix (holds no system.reg).
std::string WinePrefixOf(const std::string& storeFile);

// True while a wine server runs for the prefix.
bool WineServerRunning(const std::string& prefix);

// Why the store file must not be written now, or empty when it may be.
std::string WinePrefixBusyReason(const std::string& prefix);

}  // namespace moatgate

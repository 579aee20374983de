// The addresses the open browser windows show, in the platform's order.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace moatgate {

class OpenBrowsers {
public:
    virtual ~OpenBrowsers() = default;
    // Never fails: no browser, or anything unreadable, gives fewer addresses.
    virtual std::vector<std::string> Addresses() = 0;
};

// Firefox's open tabs, window by window and tab by tab, from the session file of
// the profile a running Firefox uses. A Firefox that is not running offers
// nothing: its session file outlives it and would offer stale addresses.
class FirefoxTabs : public OpenBrowsers {
public:
    using Env = std::function<const char*(const char*)>;
    // The folders that hold profiles.ini, in the order they are tried: today's
    // ($XDG_CONFIG_HOME, by default ~/.config, /mozilla/firefox), the older
    // ~/.mozilla/firefox, then the snap's and the flatpak's.
    static std::vector<std::string> ProfileFolders(const Env& env);

    explicit FirefoxTabs(std::vector<std::string> folders) : folders_(std::move(folders)) {}
    std::vector<std::string> Addresses() override;

private:
    std::vector<std::string> folders_;
};

// True while a Firefox holds the lock of the profile in that folder.
bool FirefoxProfileInUse(const std::string& profile);

// The shell's collection of open windows and their LocationURL (Windows only).
std::vector<std::string> ShellWindowAddresses();
// An address as the shell gives it, a BSTR (UTF-16 of its own stored length), in
// UTF-8 (Windows only).
std::string ShellAddressText(wchar_t* bstr);

}  // namespace moatgate

// The addresses the open browser windows show, in the platform's order.
#pragma once

#include <string>
#include <vector>

namespace moatgate {

class OpenBrowsers {
public:
    virtual ~OpenBrowsers() = default;
    // Never fails: no browser, or anything unreadable, gives fewer addresses.
    virtual std::vector<std::string> Addresses() = 0;
};

// Firefox's open tabs, window by window and tab by tab, from the session-restore
// file of the default profile. `firefoxHome` is the folder holding profiles.ini;
// empty: the usual places under $HOME.
class FirefoxTabs : public OpenBrowsers {
public:
    explicit FirefoxTabs(std::string firefoxHome = {}) : home_(std::move(firefoxHome)) {}
    std::vector<std::string> Addresses() override;

private:
    std::string home_;
};

// The shell's collection of open windows and their LocationURL (Windows only).
std::vector<std::string> ShellWindowAddresses();

}  // namespace moatgate

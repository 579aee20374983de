// The words the user reads, written out here once more so that a test compares the
// window with the words themselves rather than with the constants that made it.
#pragma once

#include <QString>

namespace moatgate::expected {

inline const QString kRaiseTip =
    "Click this button to disable scripts and plugins from sites not on the Trusted Sites List";
inline const QString kLowerTip =
    "Click this button to allow scripts and plugins to run from any site by restoring the default settings for "
    "Windows Internet Security. WARNING! This is NOT recommended and should only be performed as a last resort "
    "and for a limited time.";
inline const QString kSecuredPanelTip =
    "All scripts and plugins will be ignored by Internet Explorer unless the site of origin is on your trusted sites "
    "list. WARNING! Many browsers other than Internet Explorer fail to comply with Windows Internet Security "
    "Settings and may pose a security risk by running scripts and or plugins regardless of this setting.";
inline const QString kSemisecurePanelTip =
    "You will be notified by Internet Explorer of any scripts or plugins that attempt to run. CAUTION Should you be "
    "typing at the time of the notification, there is a risk that your some of keystrokes could be applied to the "
    "notifications with unpredictable results.";
inline const QString kUnsecurePanelTip =
    "WARNING! Any site can run scripts or plugins on your computer without your consent or knowledge and these "
    "scripts or plugins could be used to harm your system or invade your privacy. Click the 'Secure' button "
    "adjacent to this panel to disable scripts and plugins on all but Trusted Sites.";
inline const QString kConfirmDisable =
    "The default Normal Windows Internet Security settings are not recommended. Are you sure you wish to proceed?";
inline const QString kSemisecureQuestion =
    "You will be notified by Internet Explorer of any scripts or plugins that attempt to run. CAUTION! Should you be "
    "typing at the time of the notification, there is a risk that your some of keystrokes could be applied to the "
    "notifications with unpredictable results. Do you wish to remedy this situation?";
inline const QString kUnsecureQuestion =
    "Your security could be compromised at any time by hostile scripts or plugins. Do you wish to remedy this "
    "situation?";

}  // namespace moatgate::expected

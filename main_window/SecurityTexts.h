// The texts of the security switch and the status panels, word for word.
#pragma once

#include <QString>

namespace moatgate::texts {

inline const QString kRaiseTip =
    QStringLiteral("Click this button to disable scripts and plugins from sites not on the Trusted Sites List");
inline const QString kLowerTip = QStringLiteral(
    "Click this button to allow scripts and plugins to run from any site by restoring the default settings for "
    "Windows Internet Security. WARNING! This is NOT recommended and should only be performed as a last resort and "
    "for a limited time.");

inline const QString kUnsecureLabelTip = QStringLiteral(
    "WARNING! Any site can run scripts or plugins on your computer without your consent or knowledge and these "
    "scripts or plugins could be used to harm your system or invade your privacy. Click  for more information.");
inline const QString kUnsecurePictureTip = QStringLiteral(
    "WARNING! Any site can run scripts or plugins on your computer without your consent or knowledge and these "
    "scripts or plugins could be used to harm your system or invade your privacy. Click  fore more information.");
inline const QString kSecuredTip = QStringLiteral(
    "All scripts and plugins will be ignored by Internet Explorer unless the site of origin is on your trusted "
    "sites list. Click for more information.");
inline const QString kSemisecureTip = QStringLiteral(
    "You will be notified by Internet Explorer of any scripts or plugins that attempt to run. CAUTION  Click for "
    "more information.");

inline const QString kSecuredPanelTip = QStringLiteral(
    "All scripts and plugins will be ignored by Internet Explorer unless the site of origin is on your trusted "
    "sites list. WARNING! Many browsers other than Internet Explorer fail to comply with Windows Internet Security "
    "Settings and may pose a security risk by running scripts and or plugins regardless of this setting.");
inline const QString kSemisecurePanelTip = QStringLiteral(
    "You will be notified by Internet Explorer of any scripts or plugins that attempt to run. CAUTION Should you be "
    "typing at the time of the notification, there is a risk that your some of keystrokes could be applied to the "
    "notifications with unpredictable results.");
inline const QString kUnsecurePanelTip = QStringLiteral(
    "WARNING! Any site can run scripts or plugins on your computer without your consent or knowledge and these "
    "scripts or plugins could be used to harm your system or invade your privacy. Click the 'Secure' button "
    "adjacent to this panel to disable scripts and plugins on all but Trusted Sites.");

inline const QString kConfirmDisable = QStringLiteral(
    "The default Normal Windows Internet Security settings are not recommended. Are you sure you wish to proceed?");
inline const QString kConfirmDisableTitle = QStringLiteral("Confirm Disable Security");

inline const QString kSecuredMessage = QStringLiteral(
    "All scripts and plugins will be ignored by Internet Explorer unless the site of origin is on your trusted "
    "sites list. WARNING! Many browsers other than Internet Explorer fail to comply with Windows Internet Security "
    "Settings and may pose a security risk by running scripts and or plugins regardless of this setting.");
inline const QString kSecuredTitle = QStringLiteral("The Moatgate is Raised.");
inline const QString kSemisecureQuestion = QStringLiteral(
    "You will be notified by Internet Explorer of any scripts or plugins that attempt to run. CAUTION! Should you "
    "be typing at the time of the notification, there is a risk that your some of keystrokes could be applied to "
    "the notifications with unpredictable results. Do you wish to remedy this situation?");
inline const QString kUnsecureQuestion = QStringLiteral(
    "Your security could be compromised at any time by hostile scripts or plugins. Do you wish to remedy this "
    "situation?");
inline const QString kRaiseTitle = QStringLiteral("Raise the Moatgate?");

}  // namespace moatgate::texts

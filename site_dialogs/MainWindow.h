// The main window as the site dialogs see it: the few things they read from it
// and call back. FormX implements it; the dialogs know nothing else of it.
#pragma once

#include <QString>

namespace moatgate {

class ImageList;

class MainWindow {
public:
    virtual ~MainWindow() = default;

    // Reloads the site list from the registry.
    virtual void Refresher() = 0;
    // The window's free text; "Kill Me" tells the Add command that the dialog
    // refused the address and is to be closed again.
    virtual QString Tag() const = 0;
    virtual void SetTag(const QString& tag) = 0;
    // The address box's text, which the whole-site dialog reads and trims.
    virtual QString AddressText() const = 0;
    virtual void SetAddressText(const QString& text) = 0;
    // The numbered pictures shared with the site list.
    virtual const ImageList& ImageList11() const = 0;
    // Tells the user, in one message, when the store refused what the action just
    // done tried to write.
    virtual void ReportRefusedWrites() = 0;
};

}  // namespace moatgate

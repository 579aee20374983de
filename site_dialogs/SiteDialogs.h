// The two site dialogs exist once each. This keeps them: it loads a dialog when
// it is opened and forgets it when it is unloaded.
#pragma once

#include <QPointer>

namespace moatgate {

class FormY;
class FormZ;
class MainWindow;
class MessageBoxes;
class RegistryApi;

class SiteDialogs {
public:
    SiteDialogs(MainWindow& main, RegistryApi& reg, MessageBoxes& boxes);
    ~SiteDialogs();
    SiteDialogs(const SiteDialogs&) = delete;
    SiteDialogs& operator=(const SiteDialogs&) = delete;

    // Shows the whole-site dialog, loading it first (its load checks the address)
    // when it is not loaded. A dialog whose load refused the address is not shown.
    FormZ* ShowWholeSite();
    // Shows the per-protocol dialog for the site of `from`, loading it afresh even
    // when it is open already, so that it never writes an earlier site's names.
    FormY* ShowPerProtocol(const FormZ& from);
    void UnloadWholeSite();

    FormZ* WholeSite() const;
    FormY* PerProtocol() const;

    // Called by a dialog as it is unloaded.
    void Unloaded(const QObject* dialog);

private:
    MainWindow& main_;
    RegistryApi& reg_;
    MessageBoxes& boxes_;
    QPointer<FormZ> wholeSite_;
    QPointer<FormY> perProtocol_;
};

}  // namespace moatgate

#include "site_dialogs/SiteDialogs.h"

#include "site_dialogs/FormY.h"
#include "site_dialogs/FormZ.h"
#include "site_dialogs/MainWindow.h"
#include "site_dialogs/core/AddressParsing.h"

namespace moatgate {

namespace {

void Bring(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace

SiteDialogs::SiteDialogs(MainWindow& main, RegistryApi& reg, MessageBoxes& boxes)
    : main_(main), reg_(reg), boxes_(boxes) {}

SiteDialogs::~SiteDialogs() {
    delete wholeSite_.data();
    delete perProtocol_.data();
}

FormZ* SiteDialogs::ShowWholeSite() {
    if (!wholeSite_) {
        wholeSite_ = new FormZ(main_, reg_, boxes_, *this);
        wholeSite_->Form_Load();
    }
    if (main_.Tag() != QString::fromLatin1(kRejectionMarker.data(), kRejectionMarker.size())) Bring(wholeSite_);
    return wholeSite_;
}

FormY* SiteDialogs::ShowPerProtocol(const FormZ& from) {
    if (!perProtocol_) perProtocol_ = new FormY(main_, reg_, *this);
    perProtocol_->Form_Load(from);
    Bring(perProtocol_);
    return perProtocol_;
}

FormZ* SiteDialogs::WholeSite() const { return wholeSite_.data(); }

FormY* SiteDialogs::PerProtocol() const { return perProtocol_.data(); }

void SiteDialogs::UnloadWholeSite() {
    if (wholeSite_) wholeSite_->close();
}

void SiteDialogs::Unloaded(const QObject* dialog) {
    if (dialog == wholeSite_) wholeSite_ = nullptr;
    if (dialog == perProtocol_) perProtocol_ = nullptr;
}

}  // namespace moatgate

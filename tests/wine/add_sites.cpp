// Adds sites to the store the program would use, through the site dialogs as a
// user fills them in, so that Wine can read back what they wrote.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "main_window/FormX.h"
#include "registry/NewStore.h"
#include "site_dialogs/FormY.h"
#include "site_dialogs/FormZ.h"

namespace {

class Silent : public moatgate::MessageBoxes {
public:
    int told = 0;
    bool AskYesNo(const QString&, const QString&) override { return false; }
    void Tell(const QString& prompt, const QString&, Icon) override {
        std::fprintf(stderr, "add_sites: %s\n", prompt.toLocal8Bit().constData());
        ++told;
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::string error;
    auto store = moatgate::OpenSettingsStore([](const char* name) { return std::getenv(name); }, error);
    if (!store) {
        std::fprintf(stderr, "add_sites: %s\n", error.c_str());
        return 1;
    }
    Silent boxes;
    moatgate::FormX form(*store, boxes);
    auto open = [&](const char* address) {
        form.txtURL->setEditText(QString::fromUtf8(address));
        form.txtURL_KeyPress('\r');
        return form.Dialogs().WholeSite();
    };

    moatgate::FormZ* z = open("https://www.bank.example/login");
    if (!z) return 1;
    z->Option7->setChecked(true);  // Trusted, every protocol
    z->Command1_Click();
    if (!(z = open("aa.bb.cc.dd"))) return 1;
    z->Option9->setChecked(true);  // Restricted, on the generalised subdomain
    z->Command1_Click();
    if (!(z = open("shop.example"))) return 1;
    z->Command1_Click();  // no choice: Unclassified, on the domain key
    if (!(z = open("ftp://files.partner.example/pub"))) return 1;
    z->Command3_Click();  // per protocol: FTP is ticked from the scheme
    moatgate::FormY* y = form.Dialogs().PerProtocol();
    if (!y) return 1;
    y->Option4->setChecked(true);  // FTP Trusted
    y->Check3->setChecked(true);
    y->Check3_Click();
    y->Option9->setChecked(true);  // HTTP Restricted
    y->Command1_Click();
    return boxes.told == 0 ? 0 : 1;
}

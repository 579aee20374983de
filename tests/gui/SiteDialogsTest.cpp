// Adding a site: the address box, the whole-site dialog and the per-protocol
// dialog, driven as a user drives them, with the store checked afterwards.
#include <sys/stat.h>

#include <QLineEdit>
#include <QtTest>

#include "main_window/FormX.h"
#include "registry/NewStore.h"
#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/store/FileStore.h"
#include "registry/store/HiveRegistry.h"
#include "site_dialogs/FormY.h"
#include "site_dialogs/FormZ.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;
using Names = std::vector<std::string>;

namespace {

const std::string kDomains = std::string(kZoneMapKey);

bool HasBanner(const QWidget* dialog) {
    const auto* banner = dialog->findChild<QLabel*>(QStringLiteral("Image10"));
    return banner && !banner->pixmap().isNull();
}

}  // namespace

class SiteDialogsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<RegistryApi> reg;
    test::FakeMessageBoxes boxes;
    std::unique_ptr<FormX> form;

    void Start(std::unique_ptr<RegistryApi> store = nullptr) {
        form.reset();
        reg = store ? std::move(store) : std::make_unique<MemoryStore>();
        reg->RegCloseKey(test::Create(*reg, kDomains));
        boxes = {};
        form = std::make_unique<FormX>(*reg, boxes);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->Refresher();
    }
    // Types the address into the box and presses Enter there.
    FormZ* Type(const QString& address) {
        form->txtURL->setFocus();
        form->txtURL->clearEditText();
        QTest::keyClicks(form->txtURL->lineEdit(), address);
        QTest::keyClick(form->txtURL->lineEdit(), Qt::Key_Return);
        return form->Dialogs().WholeSite();
    }
    FormY* Advanced(const QString& address) {
        FormZ* z = Type(address);
        if (!z) return nullptr;
        QTest::mouseClick(z->Command3, Qt::LeftButton);
        return form->Dialogs().PerProtocol();
    }
    std::string Value(const std::string& key, const std::string& name) {
        return ReadRegistryValueText(*reg, HKEY_CURRENT_USER, kDomains + "\\" + key, name);
    }
    // The value names (or the subkeys) of a key under the zone map.
    Names Under(const std::string& key, bool subkeys = true) {
        HKEY k = 0;
        if (reg->RegOpenKeyA(HKEY_CURRENT_USER, kDomains + "\\" + key, &k) != 0) return {"<no key>"};
        auto names = subkeys ? test::SubkeyNames(*reg, k) : test::ValueNames(*reg, k);
        reg->RegCloseKey(k);
        return names;
    }

private slots:
    void cleanup() {
        form.reset();
        reg.reset();
    }

    // Either Add button, or Enter in the box, opens the dialog; Cancel writes
    // nothing and reloads nothing, OK writes and lists the site.
    void addOpensTheDialogCancelKeepsTheStoreAndOkListsTheSite() {
        Start();
        const int fills = form->FillCount();
        for (QAbstractButton* add : std::initializer_list<QAbstractButton*>{form->cmdAddd, form->cmdAdd}) {
            form->txtURL->setEditText(QStringLiteral("www.bb.cc"));
            QTest::mouseClick(add, Qt::LeftButton);
            FormZ* z = form->Dialogs().WholeSite();
            QVERIFY2(z, qPrintable(add->objectName()));
            z->Option7->setChecked(true);
            QTest::mouseClick(z->Command2, Qt::LeftButton);
            QVERIFY(!form->Dialogs().WholeSite());
        }
        QCOMPARE(Under(""), Names{});
        QCOMPARE(form->FillCount(), fills);

        FormZ* z = Type(QStringLiteral("http://aa.bb.cc/some/page"));
        QVERIFY(z && z->isVisible() && HasBanner(z));
        QCOMPARE(z->windowTitle(), QStringLiteral("Verify Generalised Domain Listing"));
        QCOMPARE(z->lblSubDomain->Tag, QStringLiteral("aa"));
        QVERIFY(!z->Option7->isChecked() && !z->Option8->isChecked() && !z->Option9->isChecked());
        QTest::mouseClick(z->Option9, Qt::LeftButton);
        QTest::mouseClick(z->Command1, Qt::LeftButton);
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(form->Sites().Count(), 1u);
        QVERIFY(form->Sites().Item(1).domain == "bb.cc" && form->Sites().Item(1).icon == 4);
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("http://aa.bb.cc"));  // keeps the trimmed address
    }

    // Where OK in the whole-site dialog writes, for each shape of host; with no
    // choice it writes Unclassified and keeps the key's other values.
    void okWritesTheZoneOnTheGeneralisedKey() {
        const struct {
            const char* address;
            int option;  // 7, 8, 9, or 0 for none
            std::string domain, key, value;
        } rows[] = {{"aa.bb.cc.dd", 7, "cc.dd", "cc.dd\\*.bb", "2"},
                    {"https://bank.example/login", 7, "bank.example", "bank.example", "2"},
                    {"www.bb.cc", 0, "bb.cc", "bb.cc", "3"}};
        for (const auto& row : rows) {
            Start();
            test::Zone(*reg, "bb.cc", "http", 4);
            test::Zone(*reg, "bb.cc", "*", 2);
            FormZ* z = Type(QString::fromLatin1(row.address));
            QVERIFY2(z, row.address);
            if (row.option) z->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(row.option))->setChecked(true);
            z->Command1_Click();
            QCOMPARE(Value(row.key, "*"), row.value);
            QCOMPARE(Value("bb.cc", "http"), std::string("4"));
            QCOMPARE(Under(row.domain, row.key == row.domain), Names{});  // no subdomain key, or no domain value
        }
    }

    // Refused: the dialog closes again, the box keeps what can be kept, and the
    // same address is checked afresh each time.
    void refusedAddressesCloseTheDialogAgain() {
        Start();
        const struct {
            const char* address;  // too short: no word; an IP address (twice); a port
            QString title, prompt, kept;
        } rows[] = {{"a.bcd", {}, {}, "a.bcd"},
                    {"ftp://10.1.2.3/x", "Fraud Alert", "IP Address: 10.1.2.3 in this link: ftp://10.1.2.3/x", "ftp://10.1.2.3/x"},
                    {"ftp://10.1.2.3/x", "Fraud Alert", "IP Address: 10.1.2.3 in this link: ftp://10.1.2.3/x", "ftp://10.1.2.3/x"},
                    {"http://aa.bb.cc:81/x", "Corrupted URL",
                     "The URL you have entered is incorrect and may corrupt the registry if trusted. Please re-enter "
                     "the URL with the correct format", "http://aa.bb.cc:81"}};
        for (const auto& row : rows) {
            boxes = {};
            QVERIFY2(!Type(QString::fromLatin1(row.address)), row.address);
            QCOMPARE(form->txtURL->currentText(), row.kept);
            QCOMPARE(boxes.shown.size(), row.title.isEmpty() ? 0 : 1);
            if (row.title.isEmpty()) continue;
            const auto& box = boxes.shown[0];
            const bool fraud = row.title == "Fraud Alert";  // its words are the core's; here, that they name the link
            QVERIFY2(box.title == row.title && !box.question && (fraud ? box.prompt.endsWith(row.prompt) : box.prompt == row.prompt),
                     qPrintable(box.prompt));
            QCOMPARE(box.icon, fraud ? MessageBoxes::Icon::Critical : MessageBoxes::Icon::Exclamation);
        }
        QCOMPARE(Under(""), Names{});
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!(qobject_cast<FormZ*>(w) && w->isVisible()), "a refused dialog stays open");
    }

    // The per-protocol dialog lists the exact subdomain, with the address's
    // scheme ticked; OK writes the ticked rows and closes.
    void advancedListsTheExactSubdomainWithItsSchemeTicked() {
        Start();
        const struct {
            const char* address;
            QString subdomain, domain;
            const char* ticked;  // HTTPS, FTP, HTTP
        } rows[] = {{"https://aa.bb.cc", "aa", "bb.cc", "100"},  {"FTP://aa.bb.cc", "aa", "bb.cc", "010"},
                    {"Http://aa.bb.cc", "aa", "bb.cc", "001"},   {"aa.bb.cc.dd", "aa.bb", "cc.dd", "000"},
                    {"https://bank.example/", "", "bank.example", "100"}};
        for (const auto& row : rows) {
            FormY* y = Advanced(QString::fromLatin1(row.address));
            QVERIFY2(y, row.address);
            QVERIFY(!form->Dialogs().WholeSite() && y->isVisible());
            QCOMPARE(y->lblSubDomain->text() + "|" + y->lblDomain->text(), row.subdomain + "|" + row.domain);
            QString ticked;
            for (QCheckBox* box : {y->Check1, y->Check2, y->Check3}) ticked += box->isChecked() ? '1' : '0';
            QCOMPARE(ticked, QString::fromLatin1(row.ticked));
            y->Command2_Click();
        }

        FormY* y = Advanced(QStringLiteral("https://aa.bb.cc"));
        QCOMPARE(y->windowTitle(), QStringLiteral("Verify subdomain and access type listing"));
        QVERIFY(HasBanner(y) && y->Option1->isEnabled() && !y->Option4->isEnabled() && !y->Option9->isEnabled());
        QTest::mouseClick(y->Command1, Qt::LeftButton);  // no choice: Unclassified
        QCOMPARE(Under("bb.cc\\aa", false), Names{"https"});
        QCOMPARE(Value("bb.cc\\aa", "https"), std::string("3"));
        QVERIFY(!form->Dialogs().PerProtocol());
        QCOMPARE(form->Sites().Count(), 1u);

        Advanced(QStringLiteral("https://bank.example/"))->Command1_Click();  // two labels: on the domain key
        QCOMPARE(Value("bank.example", "https"), std::string("3"));
        QCOMPARE(Under("bank.example"), Names{});
    }

    void picturesChooseTheZoneOfTheirRowWhileTheRowIsOn() {
        Start();
        FormY* y = Advanced(QStringLiteral("aa.bb.cc"));
        QVERIFY(y);
        QTest::mouseClick(y->Image9, Qt::LeftButton);  // the row is off: no reaction
        QVERIFY(!y->Option9->isChecked());
        for (QCheckBox* row : {y->Check1, y->Check3})  // a click on the box itself, where a user ticks it
            QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(8, row->height() / 2));
        // Rows with different choices; a value of an unticked protocol stays.
        test::Zone(*reg, "bb.cc\\aa", "ftp", 2);
        QTest::mouseClick(y->Image4, Qt::LeftButton);  // HTTPS: Restricted
        QTest::mouseClick(y->Image1, Qt::LeftButton);  // FTP is off: no effect
        QTest::mouseClick(y->Image7, Qt::LeftButton);  // HTTP: Trusted ...
        QTest::mouseClick(y->Image8, Qt::LeftButton);  // ... then Unclassified
        y->Command1_Click();
        QCOMPARE(Value("bb.cc\\aa", "https") + Value("bb.cc\\aa", "http") + Value("bb.cc\\aa", "ftp"),
                 std::string("432"));
    }

    void aRefusedWriteIsToldAndTheDialogCloses() {
        test::TempDir dir;
        const std::string file = dir.file("user.reg");
        std::string error;
        auto store = FileStore::Open(file, error, nullptr, &SeedNewStore);
        QVERIFY(store);
        Start(std::move(store));
        QCOMPARE(::chmod(file.c_str(), 0444), 0);
        const std::string before = test::ReadFile(file);
        FormZ* z = Type(QStringLiteral("www.bb.cc"));
        QVERIFY(z);
        z->Command1_Click();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Moatgate"));
        QVERIFY(boxes.shown[0].prompt.contains(QStringLiteral("read-only")));
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(form->Sites().Count(), 0u);

        Advanced(QStringLiteral("http://www.bb.cc"))->Command1_Click();
        QCOMPARE(boxes.shown.size(), 2);
        QVERIFY(!form->Dialogs().PerProtocol());
        QCOMPARE(test::ReadFile(file), before);
    }
};

QTEST_MAIN(SiteDialogsTest)
#include "SiteDialogsTest.moc"
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
#include "resources/ImageList.h"
#include "site_dialogs/FormY.h"
#include "site_dialogs/FormZ.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;
using Names = std::vector<std::string>;

namespace {

const std::string kDomains = std::string(kZoneMapKey);

// A click on the box itself, where a user clicks to tick it.
void Tick(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2)); }

bool SamePicture(const QLabel* label, const QIcon& icon) {
    return label->pixmap().toImage() == icon.pixmap(label->size()).toImage();
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

    void enterOpensTheDialogCancelKeepsTheStoreAndOkListsTheSite() {
        Start();
        const int fills = form->FillCount();
        FormZ* z = Type(QStringLiteral("www.bb.cc"));
        QVERIFY(z);
        z->Option7->setChecked(true);
        QTest::mouseClick(z->Command2, Qt::LeftButton);
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(Under(""), Names{});
        QCOMPARE(form->FillCount(), fills);

        z = Type(QStringLiteral("http://aa.bb.cc/some/page"));
        QVERIFY(z);
        QVERIFY(z->isVisible());
        QCOMPARE(z->windowTitle(), QStringLiteral("Verify Generalised Domain Listing"));
        QCOMPARE(z->lblSubDomain->Tag, QStringLiteral("aa"));
        QCOMPARE(z->Frame3->title(), QStringLiteral("Global Status"));
        for (QRadioButton* option : {z->Option7, z->Option8, z->Option9})
            QVERIFY(option->isEnabled() && !option->isChecked());
        QVERIFY(SamePicture(z->Image7, form->ImageList11().Picture(2)));
        QVERIFY(SamePicture(z->Image9, form->ImageList11().Picture(4)));
        QVERIFY(boxes.shown.isEmpty());

        QTest::mouseClick(z->Image9, Qt::LeftButton);  // a picture of this dialog chooses nothing
        QVERIFY(!z->Option9->isChecked());
        QTest::mouseClick(z->Option9, Qt::LeftButton);
        QTest::mouseClick(z->Command1, Qt::LeftButton);
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(form->Sites().Count(), 1u);
        QCOMPARE(form->Sites().Item(1).domain, std::string("bb.cc"));
        QCOMPARE(form->Sites().Item(1).icon, 4);
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("http://aa.bb.cc"));  // keeps the trimmed address
    }

    // Where OK in the whole-site dialog writes, for each shape of host; with no
    // choice it writes Unclassified and keeps the key's other values.
    void okWritesTheZoneOnTheGeneralisedKey() {
        const struct {
            const char* address;
            QString domain, subdomain;
            int option;  // 7, 8, 9, or 0 for none
            std::string key, value;
        } rows[] = {{"http://aa.bb.cc/some/page", "bb.cc", "*", 9, "bb.cc", "4"},
                    {"aa.bb.cc.dd", "cc.dd", "*.bb", 7, "cc.dd\\*.bb", "2"},
                    {"https://bank.example/login", "bank.example", "", 7, "bank.example", "2"},
                    {"www.bb.cc", "bb.cc", "*", 0, "bb.cc", "3"}};
        for (const auto& row : rows) {
            Start();
            test::Zone(*reg, "bb.cc", "http", 4);
            test::Zone(*reg, "bb.cc", "*", 2);
            const std::string domain = row.domain.toStdString();
            FormZ* z = Type(QString::fromLatin1(row.address));
            QVERIFY2(z, row.address);
            QCOMPARE(z->lblDomain->text(), row.domain);
            QCOMPARE(z->lblSubDomain->text(), row.subdomain);
            if (row.option) z->findChild<QRadioButton*>(QStringLiteral("Option%1").arg(row.option))->setChecked(true);
            z->Command1_Click();
            QCOMPARE(Value(row.key, "*"), row.value);
            QCOMPARE(Value("bb.cc", "http"), std::string("4"));
            QCOMPARE(Under(domain, row.key == domain), Names{});  // no subdomain key, or no domain value
        }
    }

    // Both dialogs carry the banner, drawn, under its design names, and their
    // buttons top to bottom as drawn: Cancel, (Advanced,) OK.
    void theDialogsHaveTheirBannerAndButtonsAsDrawn() {
        Start();
        FormZ* z = Type(QStringLiteral("http://aa.bb.cc"));
        QVERIFY(z);
        auto banner = [](QWidget* dialog, QWidget* frame, QWidget* picture, QLabel* image) {
            QCOMPARE(dialog->findChild<QWidget*>(QStringLiteral("Frame4")), frame);
            QCOMPARE(dialog->findChild<QWidget*>(QStringLiteral("Picture1")), picture);
            QCOMPARE(dialog->findChild<QWidget*>(QStringLiteral("Image10")), image);
            QCOMPARE(image->parentWidget(), picture);
            QCOMPARE(picture->parentWidget(), frame);
            QVERIFY2(!image->pixmap().isNull(), "the banner picture is missing");
        };
        banner(z, z->Frame4, z->Picture1, z->Image10);
        QCOMPARE(z->Command2->text() + z->Command3->text() + z->Command1->text(), QStringLiteral("CancelAdvancedOK"));
        QVERIFY(z->Command2->y() < z->Command3->y() && z->Command3->y() < z->Command1->y());
        QTest::mouseClick(z->Command3, Qt::LeftButton);
        FormY* y = form->Dialogs().PerProtocol();
        QVERIFY(y);
        QVERIFY(QTest::qWaitForWindowExposed(y));
        banner(y, y->Frame4, y->Picture1, y->Image10);
        QCOMPARE(y->Command2->text() + y->Command1->text(), QStringLiteral("CancelOK"));
        QVERIFY(y->Command2->y() < y->Command1->y());
        y->Command2_Click();
    }

    void eitherAddButtonOpensTheDialogAndOtherKeysOnlyType() {
        Start();
        using Add = std::pair<QAbstractButton*, const char*>;
        for (const auto& [add, site] : {Add{form->cmdAddd, "first"}, Add{form->cmdAdd, "second"}}) {
            form->txtURL->setEditText(QStringLiteral("www.%1.example").arg(site));
            QTest::mouseClick(add, Qt::LeftButton);
            QVERIFY(form->Dialogs().WholeSite());
            QCOMPARE(form->Dialogs().WholeSite()->lblDomain->text(), QStringLiteral("%1.example").arg(site));
            QCOMPARE(add->text(), QStringLiteral("Add"));
            if (add == form->cmdAddd) form->Dialogs().WholeSite()->Command2_Click();
        }
        QCOMPARE(form->cmdAdd->toolTip(),
                 QStringLiteral("This adds the site below to the list where you can assign scripting privileges."));

        // A second Add while the dialog is open only brings it forward: no new load.
        FormZ* open = form->Dialogs().WholeSite();
        form->txtURL->setEditText(QStringLiteral("www.third.example"));
        form->cmdAdd_Click();
        QCOMPARE(form->Dialogs().WholeSite(), open);
        QCOMPARE(open->lblDomain->text(), QStringLiteral("second.example"));
        QVERIFY(form->Tag().isEmpty());
        open->Command2_Click();

        QTest::keyClicks(form->txtURL->lineEdit(), QStringLiteral("xyz"));
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("www.third.examplexyz"));
        QTest::keyClick(form->txtURL, Qt::Key_Enter);  // as the desktop delivers it, to the focused box
        QVERIFY(form->Dialogs().WholeSite());
        QCOMPARE(form->Dialogs().WholeSite()->lblDomain->text(), QStringLiteral("third.examplexyz"));
    }

    // Refused: the dialog closes again, the box keeps what can be kept, and the
    // same address is checked afresh each time.
    void refusedAddressesCloseTheDialogAgain() {
        Start();
        const QString fraud = QStringLiteral("report the use of this IP Address: 10.1.2.3 in this link: ftp://10.1.2.3/x"),
                      corrupt = QStringLiteral("The URL you have entered is incorrect and may corrupt the registry if "
                                               "trusted. Please re-enter the URL with the correct format");
        const struct {
            const char* address;  // too short; an IP address (twice); a port; one label; a backslash
            const char* title;
            QString kept;
        } rows[] = {{"a.bcd", nullptr, "a.bcd"},
                    {"ftp://10.1.2.3/x", "Fraud Alert", "ftp://10.1.2.3/x"},
                    {"ftp://10.1.2.3/x", "Fraud Alert", "ftp://10.1.2.3/x"},
                    {"http://aa.bb.cc:81/x", "Corrupted URL", "http://aa.bb.cc:81"},
                    {"http://intranet/", "Corrupted URL", "http://intranet"},
                    {"a\\b.bb.cc", "Corrupted URL", "a\\b.bb.cc"}};
        qsizetype told = 0;
        for (const auto& row : rows) {
            QVERIFY2(!Type(QString::fromLatin1(row.address)), row.address);
            QCOMPARE(boxes.shown.size(), told += row.title ? 1 : 0);
            QCOMPARE(form->txtURL->currentText(), row.kept);
            if (!row.title) continue;
            const auto& box = boxes.shown.last();
            QCOMPARE(box.title, QString::fromLatin1(row.title));
            const bool isFraud = box.title == QStringLiteral("Fraud Alert");
            QCOMPARE(box.icon, isFraud ? MessageBoxes::Icon::Critical : MessageBoxes::Icon::Exclamation);
            if (isFraud)
                QVERIFY(box.prompt.startsWith(QStringLiteral("Trustworthy sites or institutions do NOT use IP")) &&
                        box.prompt.endsWith(fraud));
            else
                QCOMPARE(box.prompt, corrupt);
        }
        QVERIFY(form->Tag().isEmpty());
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
            QCOMPARE(y->lblSubDomain->text(), row.subdomain);
            QCOMPARE(y->lblDomain->text(), row.domain);
            QString ticked;
            for (QCheckBox* box : {y->Check1, y->Check2, y->Check3}) ticked += box->isChecked() ? '1' : '0';
            QCOMPARE(ticked, QString::fromLatin1(row.ticked));
            y->Command2_Click();
        }

        FormY* y = Advanced(QStringLiteral("https://aa.bb.cc"));
        QCOMPARE(y->windowTitle(), QStringLiteral("Verify subdomain and access type listing"));
        const ImageList& pictures = form->ImageList11();
        QVERIFY(SamePicture(y->Image2, pictures.Picture(2)));
        QVERIFY(SamePicture(y->Image4, pictures.Picture(4)));
        QVERIFY(SamePicture(y->Image1, pictures.Picture(5)));
        QVERIFY(SamePicture(y->Image9, pictures.Picture(7)));
        for (QWidget* off : std::initializer_list<QWidget*>{y->Option4, y->Image1, y->Option9, y->Image8})
            QVERIFY(!off->isEnabled());
        QVERIFY(y->Option1->isEnabled());
        const int fills = form->FillCount();
        QTest::mouseClick(y->Command1, Qt::LeftButton);
        QCOMPARE(Under("bb.cc\\aa", false), Names{"https"});
        QCOMPARE(Value("bb.cc\\aa", "https"), std::string("3"));
        QVERIFY(!form->Dialogs().PerProtocol());
        QCOMPARE(form->FillCount(), fills + 1);

        Advanced(QStringLiteral("https://bank.example/"))->Command1_Click();  // two labels: on the domain key
        QCOMPARE(Value("bank.example", "https"), std::string("3"));
        QCOMPARE(Under("bank.example"), Names{});

        y = Advanced(QStringLiteral("aa.bb.cc"));  // no scheme: every row off, and OK does nothing
        y->Command1_Click();
        QCOMPARE(form->Dialogs().PerProtocol(), y);
        QCOMPARE(Under(""), (Names{"bank.example", "bb.cc"}));
        QCOMPARE(Under("bb.cc\\aa", false), Names{"https"});
        y->Command2_Click();
    }

    void everyPictureChoosesTheOptionOfItsOwnRowAndZoneWhileTheRowIsOn() {
        Start();
        FormY* y = Advanced(QStringLiteral("aa.bb.cc"));
        QVERIFY(y);
        for (QCheckBox* row : {y->Check1, y->Check2, y->Check3}) Tick(row);
        const std::vector<std::pair<PictureLabel*, QRadioButton*>> pairs = {
            {y->Image2, y->Option1}, {y->Image3, y->Option2}, {y->Image4, y->Option3},
            {y->Image1, y->Option4}, {y->Image5, y->Option5}, {y->Image6, y->Option6},
            {y->Image7, y->Option7}, {y->Image8, y->Option8}, {y->Image9, y->Option9}};
        for (const auto& [image, option] : pairs) {
            QTest::mouseClick(image, Qt::LeftButton);
            QVERIFY2(option->isChecked(), qPrintable(image->objectName() + QStringLiteral(" -> ") + option->objectName()));
        }
        y->Command2_Click();

        y = Advanced(QStringLiteral("aa.bb.cc"));  // rows forget their choice when switched off
        QTest::mouseClick(y->Image9, Qt::LeftButton);  // off: no reaction
        QVERIFY(!y->Option9->isChecked());
        Tick(y->Check3);
        QVERIFY(y->Option9->isEnabled());
        QVERIFY(SamePicture(y->Image9, form->ImageList11().Picture(4)));
        QTest::mouseClick(y->Image9, Qt::LeftButton);
        QVERIFY(y->Option9->isChecked());
        Tick(y->Check3);
        QVERIFY(!y->Option9->isChecked() && !y->Option9->isEnabled());
        Tick(y->Check3);
        QVERIFY(!y->Option7->isChecked() && !y->Option8->isChecked() && !y->Option9->isChecked());

        // Two rows with different choices; a value of an unticked protocol stays.
        test::Zone(*reg, "bb.cc\\aa", "ftp", 4);
        Tick(y->Check1);
        QTest::mouseClick(y->Image2, Qt::LeftButton);  // HTTPS: Trusted
        QTest::mouseClick(y->Image1, Qt::LeftButton);  // FTP is off: no effect
        QTest::mouseClick(y->Image7, Qt::LeftButton);  // HTTP: Trusted ...
        QTest::mouseClick(y->Image8, Qt::LeftButton);  // ... then Unclassified
        QVERIFY(!y->Option7->isChecked());
        y->Command1_Click();
        QCOMPARE(Value("bb.cc\\aa", "https"), std::string("2"));
        QCOMPARE(Value("bb.cc\\aa", "http"), std::string("3"));
        QCOMPARE(Value("bb.cc\\aa", "ftp"), std::string("4"));
    }

    void advancedAgainReloadsTheOpenDialogAndClosingRefreshesTheList() {
        Start();
        FormY* first = Advanced(QStringLiteral("https://aa.bb.cc"));
        QVERIFY(first);
        QTest::mouseClick(first->Image3, Qt::LeftButton);
        FormY* y = Advanced(QStringLiteral("ftp://www.other.example"));
        QCOMPARE(y, first);  // one dialog, showing the new site
        QCOMPARE(y->lblDomain->text() + "|" + y->lblSubDomain->text(), QStringLiteral("other.example|www"));
        QVERIFY(y->Check2->isChecked() && !y->Check1->isChecked() && !y->Option2->isChecked());
        y->Command1_Click();
        QCOMPARE(Value("other.example\\www", "ftp"), std::string("3"));
        QCOMPARE(Under("bb.cc"), Names{"<no key>"});

        y = Advanced(QStringLiteral("aa.bb.cc"));
        test::Zone(*reg, "new.example", "*", 2);  // written meanwhile by another program
        const int fills = form->FillCount();
        y->close();
        QCOMPARE(form->FillCount(), fills + 1);
        QCOMPARE(form->Sites().Count(), 2u);
        QCOMPARE(Under(""), (Names{"new.example", "other.example"}));
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

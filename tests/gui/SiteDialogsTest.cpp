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
    std::string Value(const std::string& key, const std::string& name) {
        return ReadRegistryValueText(*reg, HKEY_CURRENT_USER, kDomains + "\\" + key, name);
    }
    std::vector<std::string> Values(const std::string& key) {
        HKEY k = 0;
        if (reg->RegOpenKeyA(HKEY_CURRENT_USER, kDomains + "\\" + key, &k) != 0) return {"<no key>"};
        auto names = test::ValueNames(*reg, k);
        reg->RegCloseKey(k);
        return names;
    }
    std::vector<std::string> Subkeys(const std::string& key) {
        HKEY k = 0;
        if (reg->RegOpenKeyA(HKEY_CURRENT_USER, kDomains + "\\" + key, &k) != 0) return {"<no key>"};
        auto names = test::SubkeyNames(*reg, k);
        reg->RegCloseKey(k);
        return names;
    }
    FormY* Advanced(const QString& address) {
        FormZ* z = Type(address);
        if (!z) return nullptr;
        QTest::mouseClick(z->Command3, Qt::LeftButton);
        return form->Dialogs().PerProtocol();
    }

private slots:
    void cleanup() {
        form.reset();
        reg.reset();
    }

    void enterOpensTheDialogAndOkListsTheSite() {
        Start();
        FormZ* z = Type(QStringLiteral("http://aa.bb.cc/some/page"));
        QVERIFY(z);
        QVERIFY(z->isVisible());
        QCOMPARE(z->windowTitle(), QStringLiteral("Verify Generalised Domain Listing"));
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("http://aa.bb.cc"));
        QCOMPARE(z->lblDomain->text(), QStringLiteral("bb.cc"));
        QCOMPARE(z->lblSubDomain->text(), QStringLiteral("*"));
        QCOMPARE(z->lblSubDomain->Tag, QStringLiteral("aa"));
        QCOMPARE(z->Frame3->title(), QStringLiteral("Global Status"));
        for (QRadioButton* option : {z->Option7, z->Option8, z->Option9}) {
            QVERIFY(option->isEnabled());
            QVERIFY(!option->isChecked());
        }
        QVERIFY(SamePicture(z->Image7, form->ImageList11().Picture(2)));
        QVERIFY(SamePicture(z->Image9, form->ImageList11().Picture(4)));
        QVERIFY(boxes.shown.isEmpty());

        QTest::mouseClick(z->Image9, Qt::LeftButton);  // a picture of this dialog chooses nothing
        QVERIFY(!z->Option9->isChecked());
        QTest::mouseClick(z->Option9, Qt::LeftButton);
        QTest::mouseClick(z->Command1, Qt::LeftButton);
        QCOMPARE(Value("bb.cc", "*"), std::string("4"));
        QCOMPARE(Subkeys("bb.cc"), std::vector<std::string>{});
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(form->Sites().Count(), 1u);
        QCOMPARE(form->Sites().Item(1).domain, std::string("bb.cc"));
        QCOMPARE(form->Sites().Item(1).icon, 4);
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("http://aa.bb.cc"));  // keeps the trimmed address
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
        QCOMPARE(z->Command2->text(), QStringLiteral("Cancel"));
        QCOMPARE(z->Command3->text(), QStringLiteral("Advanced"));
        QCOMPARE(z->Command1->text(), QStringLiteral("OK"));
        QVERIFY(z->Command2->y() < z->Command3->y());
        QVERIFY(z->Command3->y() < z->Command1->y());
        QTest::mouseClick(z->Command3, Qt::LeftButton);
        FormY* y = form->Dialogs().PerProtocol();
        QVERIFY(y);
        QVERIFY(QTest::qWaitForWindowExposed(y));
        banner(y, y->Frame4, y->Picture1, y->Image10);
        QCOMPARE(y->Command2->text(), QStringLiteral("Cancel"));
        QCOMPARE(y->Command1->text(), QStringLiteral("OK"));
        QVERIFY(y->Command2->y() < y->Command1->y());
        y->Command2_Click();
    }

    void longerHostsGoOnTheirGeneralisedSubdomain() {
        Start();
        FormZ* z = Type(QStringLiteral("aa.bb.cc.dd"));
        QVERIFY(z);
        QCOMPARE(z->lblSubDomain->text(), QStringLiteral("*.bb"));
        z->Option7->setChecked(true);
        z->Command1_Click();
        QCOMPARE(Value("cc.dd\\*.bb", "*"), std::string("2"));
        QCOMPARE(Values("cc.dd"), std::vector<std::string>{});
    }

    void okWithoutAChoiceWritesUnclassifiedAndKeepsOtherValues() {
        Start();
        HKEY k = test::Create(*reg, kDomains + "\\bb.cc");
        test::SetDword(*reg, k, "http", 4);
        test::SetDword(*reg, k, "*", 2);
        reg->RegCloseKey(k);
        FormZ* z = Type(QStringLiteral("www.bb.cc"));
        QVERIFY(z);
        z->Command1_Click();
        QCOMPARE(Value("bb.cc", "*"), std::string("3"));
        QCOMPARE(Value("bb.cc", "http"), std::string("4"));
    }

    void cancelChangesNothing() {
        Start();
        const int fills = form->FillCount();
        FormZ* z = Type(QStringLiteral("www.bb.cc"));
        QVERIFY(z);
        z->Option7->setChecked(true);
        QTest::mouseClick(z->Command2, Qt::LeftButton);
        QVERIFY(!form->Dialogs().WholeSite());
        QCOMPARE(Subkeys(""), std::vector<std::string>{});
        QCOMPARE(form->FillCount(), fills);
    }

    void eitherAddButtonOpensTheDialogAndOtherKeysOnlyType() {
        Start();
        form->txtURL->setEditText(QStringLiteral("www.first.example"));
        QTest::mouseClick(form->cmdAddd, Qt::LeftButton);
        QVERIFY(form->Dialogs().WholeSite());
        QCOMPARE(form->Dialogs().WholeSite()->lblDomain->text(), QStringLiteral("first.example"));
        form->Dialogs().WholeSite()->Command2_Click();
        form->txtURL->setEditText(QStringLiteral("www.second.example"));
        QTest::mouseClick(form->cmdAdd, Qt::LeftButton);
        QVERIFY(form->Dialogs().WholeSite());
        QCOMPARE(form->Dialogs().WholeSite()->lblDomain->text(), QStringLiteral("second.example"));
        QCOMPARE(form->cmdAdd->toolTip(),
                 QStringLiteral("This adds the site below to the list where you can assign scripting privileges."));
        QCOMPARE(form->cmdAdd->text(), QStringLiteral("Add"));
        QCOMPARE(form->cmdAddd->text(), QStringLiteral("Add"));

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
        // Enter as the desktop delivers it, to the box that has the focus.
        QTest::keyClick(form->txtURL, Qt::Key_Enter);
        QVERIFY(form->Dialogs().WholeSite());
        QCOMPARE(form->Dialogs().WholeSite()->lblDomain->text(), QStringLiteral("third.examplexyz"));
    }

    void refusedAddressesCloseTheDialogAgain() {
        Start();
        QVERIFY(!Type(QStringLiteral("a.bcd")));  // too short: no word at all
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("a.bcd"));
        QVERIFY(form->Tag().isEmpty());

        for (int twice = 0; twice < 2; ++twice) {  // unloaded, so it loads and checks again
            QVERIFY(!Type(QStringLiteral("ftp://10.1.2.3/x")));
            QCOMPARE(boxes.shown.size(), twice + 1);
            const auto& alert = boxes.shown.last();
            QCOMPARE(alert.title, QStringLiteral("Fraud Alert"));
            QCOMPARE(alert.icon, MessageBoxes::Icon::Critical);
            QVERIFY(alert.prompt.startsWith(QStringLiteral("Trustworthy sites or institutions do NOT use IP")));
            QVERIFY(alert.prompt.endsWith(
                QStringLiteral("report the use of this IP Address: 10.1.2.3 in this link: ftp://10.1.2.3/x")));
            QCOMPARE(form->txtURL->currentText(), QStringLiteral("ftp://10.1.2.3/x"));
        }

        QVERIFY(!Type(QStringLiteral("http://aa.bb.cc:81/x")));
        QCOMPARE(boxes.shown.last().title, QStringLiteral("Corrupted URL"));
        QCOMPARE(boxes.shown.last().icon, MessageBoxes::Icon::Exclamation);
        QCOMPARE(boxes.shown.last().prompt,
                 QStringLiteral("The URL you have entered is incorrect and may corrupt the registry if trusted. "
                                "Please re-enter the URL with the correct format"));
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("http://aa.bb.cc:81"));

        QVERIFY(!Type(QStringLiteral("http://intranet/")));  // one label: nothing to list it under
        QCOMPARE(boxes.shown.last().title, QStringLiteral("Corrupted URL"));
        QVERIFY(!Type(QStringLiteral("a\\b.bb.cc")));
        QCOMPARE(boxes.shown.last().title, QStringLiteral("Corrupted URL"));
        QVERIFY(form->Tag().isEmpty());
        QCOMPARE(Subkeys(""), std::vector<std::string>{});
        for (QWidget* w : QApplication::topLevelWidgets())
            QVERIFY2(!(qobject_cast<FormZ*>(w) && w->isVisible()), "a refused dialog stays open");
    }

    void aTwoLabelHostIsListedOnTheDomainKey() {
        Start();
        FormZ* z = Type(QStringLiteral("https://bank.example/login"));
        QVERIFY(z);
        QCOMPARE(z->lblDomain->text(), QStringLiteral("bank.example"));
        QVERIFY(z->lblSubDomain->text().isEmpty());
        z->Option7->setChecked(true);
        z->Command1_Click();
        QCOMPARE(Value("bank.example", "*"), std::string("2"));
        QCOMPARE(Subkeys("bank.example"), std::vector<std::string>{});

        FormY* y = Advanced(QStringLiteral("https://bank.example/"));
        QVERIFY(y);
        y->Command1_Click();
        QCOMPARE(Value("bank.example", "https"), std::string("3"));
        QCOMPARE(Subkeys("bank.example"), std::vector<std::string>{});
    }

    void advancedHandsTheExactSubdomainToThePerProtocolDialog() {
        Start();
        FormY* y = Advanced(QStringLiteral("https://aa.bb.cc"));
        QVERIFY(y);
        QVERIFY(!form->Dialogs().WholeSite());
        QVERIFY(y->isVisible());
        QCOMPARE(y->windowTitle(), QStringLiteral("Verify subdomain and access type listing"));
        QCOMPARE(y->lblSubDomain->text(), QStringLiteral("aa"));
        QCOMPARE(y->lblDomain->text(), QStringLiteral("bb.cc"));
        QVERIFY(y->Check1->isChecked());
        QVERIFY(!y->Check2->isChecked());
        QVERIFY(!y->Check3->isChecked());
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
        QCOMPARE(Values("bb.cc\\aa"), std::vector<std::string>{"https"});
        QCOMPARE(Value("bb.cc\\aa", "https"), std::string("3"));
        QVERIFY(!form->Dialogs().PerProtocol());
        QCOMPARE(form->FillCount(), fills + 1);

        y = Advanced(QStringLiteral("aa.bb.cc.dd"));
        QVERIFY(y);
        QCOMPARE(y->lblSubDomain->text(), QStringLiteral("aa.bb"));
        QCOMPARE(y->lblDomain->text(), QStringLiteral("cc.dd"));
        y->Command2_Click();
    }

    void theSchemePresetsTheRows() {
        Start();
        FormY* y = Advanced(QStringLiteral("FTP://aa.bb.cc"));
        QVERIFY(y);
        QVERIFY(!y->Check1->isChecked() && y->Check2->isChecked() && !y->Check3->isChecked());
        y->Command2_Click();
        y = Advanced(QStringLiteral("Http://aa.bb.cc"));
        QVERIFY(!y->Check1->isChecked() && !y->Check2->isChecked() && y->Check3->isChecked());
        y->Command2_Click();

        y = Advanced(QStringLiteral("aa.bb.cc"));  // no scheme: every row off, and OK does nothing
        QVERIFY(!y->Check1->isChecked() && !y->Check2->isChecked() && !y->Check3->isChecked());
        y->Command1_Click();
        QCOMPARE(form->Dialogs().PerProtocol(), y);
        QCOMPARE(Subkeys(""), std::vector<std::string>{});
        y->Command2_Click();
    }

    void everyPictureChoosesTheOptionOfItsOwnRowAndZone() {
        Start();
        FormY* y = Advanced(QStringLiteral("aa.bb.cc"));
        QVERIFY(y);
        for (QCheckBox* row : {y->Check1, y->Check2, y->Check3})
            if (!row->isChecked()) Tick(row);
        const std::vector<std::pair<PictureLabel*, QRadioButton*>> pairs = {
            {y->Image2, y->Option1}, {y->Image3, y->Option2}, {y->Image4, y->Option3},
            {y->Image1, y->Option4}, {y->Image5, y->Option5}, {y->Image6, y->Option6},
            {y->Image7, y->Option7}, {y->Image8, y->Option8}, {y->Image9, y->Option9}};
        for (const auto& [image, option] : pairs) {
            QTest::mouseClick(image, Qt::LeftButton);
            QVERIFY2(option->isChecked(), qPrintable(image->objectName() + QStringLiteral(" -> ") + option->objectName()));
        }
        y->Command2_Click();
    }

    void rowsForgetTheirChoiceWhenSwitchedOff() {
        Start();
        FormY* y = Advanced(QStringLiteral("aa.bb.cc"));
        QVERIFY(y);
        QTest::mouseClick(y->Image9, Qt::LeftButton);  // off: no reaction
        QVERIFY(!y->Option9->isChecked());
        Tick(y->Check3);
        QVERIFY(y->Option9->isEnabled());
        QVERIFY(SamePicture(y->Image9, form->ImageList11().Picture(4)));
        QTest::mouseClick(y->Image9, Qt::LeftButton);  // the picture chooses its option
        QVERIFY(y->Option9->isChecked());
        Tick(y->Check3);
        QVERIFY(!y->Option9->isChecked());
        QVERIFY(!y->Option9->isEnabled());
        Tick(y->Check3);
        QVERIFY(!y->Option7->isChecked() && !y->Option8->isChecked() && !y->Option9->isChecked());

        // Two rows with different choices; a value of an unticked protocol stays.
        HKEY k = test::Create(*reg, kDomains + "\\bb.cc\\aa");
        test::SetDword(*reg, k, "ftp", 4);
        reg->RegCloseKey(k);
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

    void cancelOrCloseStillRefreshesTheList() {
        Start();
        FormY* y = Advanced(QStringLiteral("aa.bb.cc"));
        QVERIFY(y);
        HKEY k = test::Create(*reg, kDomains + "\\other.example");  // written meanwhile by another program
        test::SetDword(*reg, k, "*", 2);
        reg->RegCloseKey(k);
        const int fills = form->FillCount();
        y->close();
        QCOMPARE(form->FillCount(), fills + 1);
        QCOMPARE(form->Sites().Count(), 1u);
        QCOMPARE(Subkeys(""), std::vector<std::string>{"other.example"});
    }

    void advancedAgainReloadsTheOpenPerProtocolDialog() {
        Start();
        FormY* first = Advanced(QStringLiteral("https://aa.bb.cc"));
        QVERIFY(first);
        QTest::mouseClick(first->Image3, Qt::LeftButton);
        FormY* second = Advanced(QStringLiteral("ftp://www.other.example"));
        QCOMPARE(second, first);  // one dialog, showing the new site
        QCOMPARE(second->lblDomain->text(), QStringLiteral("other.example"));
        QCOMPARE(second->lblSubDomain->text(), QStringLiteral("www"));
        QVERIFY(second->Check2->isChecked() && !second->Check1->isChecked());
        QVERIFY(!second->Option2->isChecked());
        second->Command1_Click();
        QCOMPARE(Value("other.example\\www", "ftp"), std::string("3"));
        QCOMPARE(Subkeys("bb.cc"), std::vector<std::string>{"<no key>"});
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
        QCOMPARE(test::ReadFile(file), before);
        QCOMPARE(form->Sites().Count(), 0u);

        FormY* y = Advanced(QStringLiteral("http://www.bb.cc"));
        QVERIFY(y);
        y->Command1_Click();
        QCOMPARE(boxes.shown.size(), 2);
        QVERIFY(!form->Dialogs().PerProtocol());
        QCOMPARE(test::ReadFile(file), before);
    }
};

QTEST_MAIN(SiteDialogsTest)
#include "SiteDialogsTest.moc"

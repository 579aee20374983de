// The load sequence, start-up mode, the toolbar button and help.
#include <QtTest>
#include <stdexcept>

#include "main_window/FormX.h"
#include "registry/Registry.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "tests/gui/ExpectedTexts.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

class FakeBrowsers : public OpenBrowsers {
public:
    std::vector<std::string> addresses;
    bool fail = false;
    std::vector<std::string> Addresses() override {
        if (fail) throw std::runtime_error("the shell is gone");
        return addresses;
    }
};

class FakeHelp : public HelpViewer {
public:
    bool works = true;
    QStringList opened;
    bool Open(const QString& file) override {
        opened << file;
        return works;
    }
};

QStringList Entries(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MemoryStore> reg;
    test::FakeMessageBoxes boxes;
    FakeBrowsers browsers;
    FakeHelp help;
    std::unique_ptr<FormX> form;

    void Start(PolicySet set, const QString& arguments = {}, bool withButtonKey = true) {
        reg = std::make_unique<MemoryStore>();
        reg->RegCloseKey(test::Create(*reg, std::string(kInternetZoneKey)));
        if (withButtonKey) reg->RegCloseKey(test::Create(*reg, ToolbarButtonKey()));
        WritePolicySet(*reg, set);
        reg->RegCloseKey(test::Create(*reg, std::string(kZoneMapKey) + "\\site.example"));
        boxes = {};
        form = std::make_unique<FormX>(*reg, boxes);
        form->SetEnvironment({&browsers, &help, {"/opt/moatgate", "moatgate", "/opt/moatgate/moatgate"}, arguments});
    }

private slots:
    void init() {
        browsers = {};
        help = {};
    }

    // Every address but local files, in order, duplicates kept; the first is in the box.
    void theAddressBoxOffersWhatTheBrowsersShow() {
        const std::vector<std::pair<std::vector<std::string>, QStringList>> rows = {
            {{}, {}},
            {{"file:///home/me/Documents", "FILE:///C:/Windows", "File:///x"}, {}},
            {{"https://bank.example/login", "file:///tmp", "http://news.example/", "https://bank.example/login"},
             {"https://bank.example/login", "http://news.example/", "https://bank.example/login"}}};
        for (const auto& [shown, offered] : rows) {
            browsers.addresses = shown;
            Start(PolicySet::Secured);
            QVERIFY(form->Form_Load());
            QCOMPARE(Entries(form->txtURL), offered);
            QCOMPARE(form->txtURL->currentText(), offered.isEmpty() ? QString() : offered.first());
        }
        QVERIFY(form->txtURL->toolTip().startsWith(QStringLiteral("Just click the \"Add\" Button")));

        browsers.fail = true;  // errors are swallowed
        Start(PolicySet::Secured);
        QVERIFY(form->Form_Load());
        QCOMPARE(form->FillCount(), 1);
    }

    void startupModeEndsQuietlyWhenProtected() {
        for (PolicySet set : {PolicySet::Secured, PolicySet::Prompting}) {
            Start(set, QStringLiteral("Startup"));
            QVERIFY(!form->Form_Load());
            QVERIFY(boxes.shown.isEmpty());
            QCOMPARE(form->FillCount(), 0);  // the list was not read
            QVERIFY(!form->isVisible());
        }
        Start(PolicySet::Default, QStringLiteral("Startup"));  // unprotected: asks, then opens
        boxes.answers = {false};
        QVERIFY(form->Form_Load());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Raise the Moatgate?"));
        QCOMPARE(form->FillCount(), 1);

        for (const QString& notStartup : {QStringLiteral("startup"), QStringLiteral("Startup now"),
                                          QStringLiteral(" Startup"), QStringLiteral("STARTUP")}) {
            Start(PolicySet::Secured, notStartup);
            QVERIFY(form->Form_Load());
            QCOMPARE(form->FillCount(), 1);
        }
    }

    void yesAtStartRaisesTheMoatgateAndNoWritesNothing() {
        Start(PolicySet::Default);
        boxes.answers = {true};
        QVERIFY(form->Form_Load());
        QCOMPARE(ScriptPolicyState(*reg), 0);
        QCOMPARE(form->cmdSecure->text(), QStringLiteral("De-Secure"));
        QCOMPARE(form->pSecured->toolTip(), expected::kSecuredPanelTip);  // the switch set it

        Start(PolicySet::Default);
        reg->GetHive().ClearChanged();
        form->SetEnvironment({&browsers, &help, {}, {}});  // no program location: no button to write
        QVERIFY(form->Form_Load());
        QVERIFY(!reg->GetHive().Changed());
        QCOMPARE(form->cmdSecure->text(), QStringLiteral("Secure"));
        QVERIFY(!form->pUnsecure->isHidden());
    }

    void theToolbarButtonIsRegisteredOnEveryStart() {
        Start(PolicySet::Secured);
        QVERIFY(form->Form_Load());
        auto read = [&](const char* name) {
            return ReadRegistryValueText(*reg, HKEY_CURRENT_USER, ToolbarButtonKey(), name);
        };
        QCOMPARE(read("Exec"), std::string("/opt/moatgate/moatgate"));
        QCOMPARE(read("Icon"), std::string("/opt/moatgate/ZavavId.ico"));
        QCOMPARE(read("HotIcon"), std::string("/opt/moatgate/TrustHot.ico"));

        Start(PolicySet::Secured, {}, false);
        reg->GetHive().ClearChanged();
        QVERIFY(form->Form_Load());
        QVERIFY(!reg->GetHive().Changed());
    }

    void helpOpensThePageOrSaysWhyNot() {
        Start(PolicySet::Secured);
        form->show();
        QTest::mouseClick(form->cmdHelp, Qt::LeftButton);
        QCOMPARE(help.opened, QStringList{"/opt/moatgate/moatgate-help.html"});
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(form->cmdHelp->toolTip(), QStringLiteral("Need to know more? Just press this button!"));

        help.works = false;
        form->cmdHelp_Click();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::Icon::Exclamation);
        QVERIFY(boxes.shown[0].prompt.contains(QStringLiteral("/opt/moatgate/moatgate-help.html")));
        QVERIFY(form->isVisible());
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"

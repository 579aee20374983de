// The load sequence, start-up mode, the toolbar button, help, and Firefox's tabs.
#include <lz4.h>

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

// A Firefox session file: "mozLz40\0", the size, one LZ4 block.
void WriteSession(const QString& path, const QByteArray& json) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray out("mozLz40\0", 8);
    const auto size = static_cast<quint32>(json.size());
    for (int i = 0; i < 4; ++i) out.append(static_cast<char>((size >> (8 * i)) & 0xFF));
    QByteArray block(LZ4_compressBound(static_cast<int>(json.size())), Qt::Uninitialized);
    const int n = LZ4_compress_default(json.constData(), block.data(), static_cast<int>(json.size()),
                                       static_cast<int>(block.size()));
    out.append(block.constData(), n);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(out);
}

void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

const QByteArray kSession = "{\"windows\":[\n"
    "  {\"tabs\":[{\"entries\":[{\"url\":\"https://a.example/\"},{\"url\":\"https://b.example/\"}],\"index\":2},\n"
    "           {\"entries\":[{\"url\":\"about:blank\"}]}]},\n"
    "  {\"tabs\":[{\"entries\":[{\"url\":\"https://c.example/x\"}],\"index\":1},{\"entries\":[]}]}]}";

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

    void theAddressBoxOffersWhatTheBrowsersShow() {
        Start(PolicySet::Secured);
        QVERIFY(form->Form_Load());
        QVERIFY(Entries(form->txtURL).isEmpty());
        QVERIFY(form->txtURL->currentText().isEmpty());

        browsers.addresses = {"file:///home/me/Documents", "FILE:///C:/Windows", "File:///x"};
        Start(PolicySet::Secured);
        QVERIFY(form->Form_Load());
        QVERIFY(Entries(form->txtURL).isEmpty());

        browsers.addresses = {"https://bank.example/login", "file:///tmp", "http://news.example/",
                              "https://bank.example/login"};
        Start(PolicySet::Secured);
        QVERIFY(form->Form_Load());
        QCOMPARE(Entries(form->txtURL), (QStringList{"https://bank.example/login", "http://news.example/",
                                                     "https://bank.example/login"}));
        QCOMPARE(form->txtURL->currentText(), QStringLiteral("https://bank.example/login"));
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

    void firefoxTabsComeFromTheDefaultProfilesSession() {
        test::TempDir dir;
        const QString home = QString::fromStdString(dir.path().string());
        WriteText(home + "/profiles.ini",
                  "[Profile1]\nName=old\nIsRelative=1\nPath=old.default\n\n"
                  "[Profile0]\nName=default-release\nIsRelative=1\nPath=abc.default-release\nDefault=1\n\n"
                  "[General]\nStartWithLastProfile=1\n");
        WriteSession(home + "/old.default/sessionstore-backups/recovery.jsonlz4",
                     "{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"https://wrong.example/\"}]}]}]}");
        WriteSession(home + "/abc.default-release/sessionstore-backups/recovery.jsonlz4", kSession);
        FirefoxTabs tabs(home.toStdString());
        QCOMPARE(tabs.Addresses(), (std::vector<std::string>{"https://b.example/", "about:blank", "https://c.example/x"}));

        // Newer Firefox names the default in an [Install...] section.
        WriteText(home + "/profiles.ini",
                  "[Install4F96D1932A9F858E]\nDefault=old.default\nLocked=1\n\n"
                  "[Profile0]\nName=default-release\nIsRelative=1\nPath=abc.default-release\nDefault=1\n");
        QCOMPARE(tabs.Addresses(), std::vector<std::string>{"https://wrong.example/"});

        // Broken or missing: no addresses, no complaint.
        WriteText(home + "/old.default/sessionstore-backups/recovery.jsonlz4", "mozLz40\0garbage");
        QVERIFY(tabs.Addresses().empty());
        QDir(home + "/old.default").removeRecursively();
        QVERIFY(tabs.Addresses().empty());
        QVERIFY(FirefoxTabs((home + "/nowhere").toStdString()).Addresses().empty());
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"

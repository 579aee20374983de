// The load sequence, start-up mode and the toolbar button.
#include <QtTest>

#include "main_window/FormX.h"
#include "registry/Registry.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "tests/gui/ExpectedTexts.h"
#include "tests/gui/TestWindow.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

class StartupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::CountingStore> reg;
    test::FakeMessageBoxes boxes;
    std::unique_ptr<FormX> form;

    void Start(PolicySet set, const QString& arguments = {}, bool withButtonKey = true) {
        reg = std::make_unique<test::CountingStore>();
        reg->RegCloseKey(test::Create(*reg, std::string(kInternetZoneKey)));
        if (withButtonKey) reg->RegCloseKey(test::Create(*reg, ToolbarButtonKey()));
        WritePolicySet(*reg, set);
        reg->RegCloseKey(test::Create(*reg, std::string(kZoneMapKey) + "\\site.example"));
        boxes = {};
        form = std::make_unique<FormX>(*reg, boxes);
        form->SetEnvironment({nullptr, nullptr, {"/opt/moatgate", "moatgate", "/opt/moatgate/moatgate"}, arguments});
    }

private slots:
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

        for (const QString& notStartup : {QStringLiteral("startup"), QStringLiteral("Startup now")}) {
            Start(PolicySet::Secured, notStartup);
            QVERIFY2(form->Form_Load() && form->FillCount() == 1, qPrintable(notStartup));
        }
    }

    // Yes raises the Moatgate and registers the toolbar button; without the
    // button's key, No writes nothing at all.
    void yesAtStartRaisesTheMoatgateAndNoWritesNothing() {
        Start(PolicySet::Default);
        boxes.answers = {true};
        QVERIFY(form->Form_Load());
        QCOMPARE(ScriptPolicyState(*reg), 0);
        QCOMPARE(form->cmdSecure->text(), QStringLiteral("De-Secure"));
        QCOMPARE(form->pSecured->toolTip(), expected::kSecuredPanelTip);  // the switch set it
        QCOMPARE(ReadRegistryValueText(*reg, HKEY_CURRENT_USER, ToolbarButtonKey(), "Exec"),
                 std::string("/opt/moatgate/moatgate"));

        Start(PolicySet::Default, {}, false);
        const int changes = reg->changes;
        QVERIFY(form->Form_Load());
        QCOMPARE(reg->changes, changes);
        QCOMPARE(form->cmdSecure->text(), QStringLiteral("Secure"));
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"

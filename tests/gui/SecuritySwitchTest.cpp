// The security switch and the status panels, driven with real mouse releases.
#include <QtTest>

#include "main_window/FormX.h"
#include "registry/Registry.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "tests/gui/ExpectedTexts.h"
#include "tests/gui/TestWindow.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

constexpr auto kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

// Which panel shows, as the window would show it, and what the switch reads.
QString Shows(const FormX& form) {
    QStringList shown;
    for (const QWidget* panel : {form.pSecured, form.pSemisecure, form.pUnsecure})
        if (!panel->isHidden()) shown << panel->objectName();
    return shown.join(QLatin1Char(',')) + QLatin1Char('|') + form.cmdSecure->text();
}

}  // namespace

class SecuritySwitchTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::CountingStore> reg;
    test::FakeMessageBoxes boxes;
    std::unique_ptr<FormX> form;

    // A window on a store holding `set`, showing its state.
    void Start(PolicySet set, bool withZoneKey = true) {
        reg = std::make_unique<test::CountingStore>();
        if (withZoneKey) reg->RegCloseKey(test::Create(*reg, std::string(kInternetZoneKey)));
        WritePolicySet(*reg, set);
        boxes = {};
        form = std::make_unique<FormX>(*reg, boxes);
        form->show();
        form->ShowSecurityState(State(), false);
    }
    void Release(Qt::MouseButton button, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseRelease(form->cmdSecure, button, modifiers, form->cmdSecure->rect().center());
    }
    int State() { return ScriptPolicyState(*reg); }

private slots:
    // Releases on the switch, one after another from the default set: the
    // question asked (its title), the state written, what shows and its tips.
    void theSwitchFollowsTheStateTable() {
        Start(PolicySet::Default);
        form->cmdSecure->setFocus();  // the keyboard cannot work the switch
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(form->cmdSecure, key);
        QVERIFY(boxes.shown.isEmpty() && State() == 2);
        const QString confirm = QStringLiteral("Confirm Disable Security"),
                      secured = expected::kSecuredPanelTip + expected::kLowerTip;
        const struct {
            Qt::MouseButton button;
            Qt::KeyboardModifiers modifiers;
            bool yes;
            QString asked;
            int state;
            QString shows, tips;  // the shown panel's tip, then the switch's
        } rows[] = {{Qt::LeftButton, {}, false, {}, 0, "pSecured|De-Secure", secured},  // at once
                    {Qt::RightButton, {}, false, confirm, 0, "pSecured|De-Secure", secured},
                    {Qt::MiddleButton, {}, true, confirm, 2, "pUnsecure|Secure",
                     expected::kUnsecurePanelTip + expected::kRaiseTip},
                    {Qt::RightButton, kCtrlAlt, false, {}, 1, "pSemisecure|Secure",  // exactly Ctrl and Alt
                     expected::kSemisecurePanelTip + expected::kRaiseTip},
                    {Qt::LeftButton, kCtrlAlt | Qt::ShiftModifier, false, {}, 0, "pSecured|De-Secure", secured},
                    {Qt::LeftButton, Qt::ControlModifier, false, confirm, 0, "pSecured|De-Secure", secured}};
        for (const auto& row : rows) {
            boxes = {};
            boxes.answers = {row.yes};
            const int changes = reg->changes;
            Release(row.button, row.modifiers);
            QCOMPARE(boxes.shown.isEmpty() ? QString() : boxes.shown[0].title, row.asked);
            QVERIFY(row.asked.isEmpty() || (boxes.shown[0].question && boxes.shown[0].prompt == expected::kConfirmDisable));
            QVERIFY(row.yes || row.asked.isEmpty() || reg->changes == changes);  // No writes nothing
            QCOMPARE(State(), row.state);
            QCOMPARE(Shows(*form), row.shows);
            QString tips = form->cmdSecure->toolTip();
            for (const QWidget* panel : {form->pSecured, form->pSemisecure, form->pUnsecure})
                if (!panel->isHidden()) tips.prepend(panel->toolTip());
            QCOMPARE(tips, row.tips);
        }
        QCOMPARE(form->pUnsecure->toolTip(), expected::kUnsecurePanelTip);  // a hidden panel keeps its tip
    }

    // Secured, a panel's words explain; otherwise they ask to raise the Moatgate.
    void panelClicksExplainAndOfferToRaise() {
        Start(PolicySet::Secured);
        QTest::mouseClick(form->Image7, Qt::LeftButton);
        QVERIFY(!boxes.shown.last().question);
        QCOMPARE(boxes.shown.last().title + "|" + boxes.shown.last().prompt,
                 "The Moatgate is Raised.|" + expected::kSecuredPanelTip);  // the panel's tip, told
        const struct {
            PolicySet set;
            QLabel* control;
            bool yes;
            QString question;
            int state;
        } rows[] = {{PolicySet::Prompting, form->Label2, false, expected::kSemisecureQuestion, 1},
                    {PolicySet::Prompting, form->Image6, true, expected::kSemisecureQuestion, 0},
                    {PolicySet::Default, form->ImageSecure, true, expected::kUnsecureQuestion, 0}};
        for (const auto& row : rows) {
            WritePolicySet(*reg, row.set);
            form->ShowSecurityState(State(), false);
            boxes.answers = {row.yes};
            QTest::mouseClick(row.control, Qt::LeftButton);
            QCOMPARE(boxes.shown.last().title + "|" + boxes.shown.last().prompt, "Raise the Moatgate?|" + row.question);
            QCOMPARE(State(), row.state);
        }
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));
    }

    void theLoadShowsTheStateAndAsksOnlyWhenUnprotectedOrKeyless() {
        Start(PolicySet::Secured);
        form->Form_Load();
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));

        Start(PolicySet::Default);
        const int changes = reg->changes;
        form->Form_Load();  // No: nothing written, the window shows "Secure" and pUnsecure
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].prompt, expected::kUnsecureQuestion);
        QCOMPARE(reg->changes, changes);
        QCOMPARE(Shows(*form), QStringLiteral("pUnsecure|Secure"));

        Start(PolicySet::Secured, false);  // without the zone key, Yes writes nothing
        boxes.answers = {true};
        form->Form_Load();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Raise the Moatgate?"));
        HKEY k = 0;
        QVERIFY(reg->RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k) != 0);
        QCOMPARE(Shows(*form), QStringLiteral("pUnsecure|Secure"));
    }
};

QTEST_MAIN(SecuritySwitchTest)
#include "SecuritySwitchTest.moc"
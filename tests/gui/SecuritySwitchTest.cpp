// The security switch and the status panels, driven with real mouse releases.
#include <QtTest>

#include "main_window/FormX.h"
#include "main_window/core/Twips.h"
#include "registry/Registry.h"
#include "registry/ScriptPolicy.h"
#include "registry/SettingsKeys.h"
#include "registry/store/HiveRegistry.h"
#include "tests/gui/ExpectedTexts.h"
#include "tests/gui/FakeMessageBoxes.h"
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

    std::unique_ptr<MemoryStore> reg;
    test::FakeMessageBoxes boxes;
    std::unique_ptr<FormX> form;

    void Start(PolicySet set, bool withZoneKey = true) {
        reg = std::make_unique<MemoryStore>();
        if (withZoneKey) reg->RegCloseKey(test::Create(*reg, std::string(kInternetZoneKey)));
        WritePolicySet(*reg, set);
        boxes = {};
        form = std::make_unique<FormX>(*reg, boxes);
    }
    void Release(Qt::MouseButton button, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseRelease(form->cmdSecure, button, modifiers, form->cmdSecure->rect().center());
    }
    int State() { return ScriptPolicyState(*reg); }

private slots:
    void theSwitchFollowsTheStateTable() {
        Start(PolicySet::Default);
        form->show();
        form->ShowSecurityState(State(), false);
        QCOMPARE(Shows(*form), QStringLiteral("pUnsecure|Secure"));
        QCOMPARE(form->cmdSecure->toolTip(), expected::kRaiseTip);
        form->cmdSecure->setFocus();  // the keyboard cannot work the switch
        reg->GetHive().ClearChanged();
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(form->cmdSecure, key);
        QVERIFY(!reg->GetHive().Changed());
        QVERIFY(boxes.shown.isEmpty());

        Release(Qt::LeftButton);  // not secured: secured at once, no question
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(State(), 0);
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));
        QCOMPARE(form->cmdSecure->toolTip(), expected::kLowerTip);
        QCOMPARE(form->pSecured->toolTip(), expected::kSecuredPanelTip);

        reg->GetHive().ClearChanged();
        Release(Qt::RightButton);  // secured: asks first; No writes nothing
        QVERIFY(!reg->GetHive().Changed());
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown[0].question);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Confirm Disable Security"));
        QCOMPARE(boxes.shown[0].prompt, expected::kConfirmDisable);
        QCOMPARE(State(), 0);
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));

        boxes.answers = {true};
        Release(Qt::MiddleButton);  // Yes: the default set, which is not secured
        QCOMPARE(State(), 2);
        QCOMPARE(Shows(*form), QStringLiteral("pUnsecure|Secure"));
        QCOMPARE(form->pUnsecure->toolTip(), expected::kUnsecurePanelTip);
        QCOMPARE(form->pSecured->toolTip(), expected::kSecuredPanelTip);  // a hidden panel keeps its tip
        QCOMPARE(ReadRegistryValueText(*reg, HKEY_CURRENT_USER, kInternetZoneKey, "1A00"), std::string("131072"));
    }

    void ctrlAltAloneIsThePromptingGesture() {
        Start(PolicySet::Secured);
        form->ShowSecurityState(State(), false);
        Release(Qt::RightButton, kCtrlAlt);
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(State(), 1);
        QCOMPARE(Shows(*form), QStringLiteral("pSemisecure|Secure"));
        QCOMPARE(form->pSemisecure->toolTip(), expected::kSemisecurePanelTip);

        Release(Qt::LeftButton, kCtrlAlt | Qt::ShiftModifier);  // Shift 7: the ordinary path
        QCOMPARE(State(), 0);
        Release(Qt::LeftButton, Qt::ControlModifier);  // Ctrl alone: ordinary too, so it asks
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(State(), 0);
    }

    void panelsHaveTheirTextsAndNoTipOfTheirOwnAtFirst() {
        Start(PolicySet::Default);
        form->ShowSecurityState(State(), false);
        QStringList texts;
        for (const QLabel* label : {form->lblWarning, form->Label9, form->Label8, form->Label7, form->Label6, form->Label2})
            texts << label->text();
        QCOMPARE(texts, (QStringList{"Warning!", "Unsecured!", "Secured", "Scripts/Plugins", "Semi-secured!", "Caution"}));
        for (const QLabel* label : {form->lblWarning, form->Label9})
            QCOMPARE(label->toolTip(), expected::kUnsecureLabelTip);
        QCOMPARE(form->ImageSecure->toolTip(), expected::kUnsecurePictureTip);
        for (const QLabel* label : {form->Label8, form->Label7, form->Image7})
            QCOMPARE(label->toolTip(), expected::kSecuredTip);
        for (const QLabel* label : {form->Label6, form->Label2, form->Image6})
            QCOMPARE(label->toolTip(), expected::kSemisecureTip);
        for (const QWidget* panel : {form->pSecured, form->pSemisecure, form->pUnsecure})
            QVERIFY(panel->toolTip().isEmpty());
        const int dpi = form->logicalDpiX();
        QCOMPARE(form->pUnsecure->size(), QSize(1755 * dpi / 1440, 795 * dpi / 1440));
        // The labels where they were drawn on their panels (twips: left, top, width, height).
        auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
        const QList<QPair<QLabel*, QRect>> drawn = {
            {form->lblWarning, {60, 120, 975, 255}}, {form->Label9, {360, 420, 1275, 255}},
            {form->Label2, {60, 120, 975, 255}},     {form->Label6, {240, 420, 1455, 255}},
            {form->Label7, {60, 180, 1575, 255}},    {form->Label8, {660, 420, 975, 255}}};
        for (const auto& [label, at] : drawn)
            QCOMPARE(label->geometry(), QRect(px(at.x()), px(at.y()), px(at.width()), px(at.height())));
    }

    void panelClicksExplainAndOfferToRaise() {
        Start(PolicySet::Secured);
        form->show();
        form->ShowSecurityState(State(), false);
        for (QLabel* control : {form->Label8, form->Label7, form->Image7}) {
            QTest::mouseClick(control, Qt::LeftButton);
            QCOMPARE(boxes.shown.last().title, QStringLiteral("The Moatgate is Raised."));
            QCOMPARE(boxes.shown.last().prompt, expected::kSecuredMessage);
            QVERIFY(!boxes.shown.last().question);
            QCOMPARE(boxes.shown.last().icon, MessageBoxes::Icon::None);
        }
        QCOMPARE(State(), 0);

        WritePolicySet(*reg, PolicySet::Prompting);
        form->ShowSecurityState(State(), false);
        QTest::mouseClick(form->Label2, Qt::LeftButton);  // No: nothing happens
        QCOMPARE(boxes.shown.last().prompt, expected::kSemisecureQuestion);
        QCOMPARE(boxes.shown.last().title, QStringLiteral("Raise the Moatgate?"));
        QCOMPARE(State(), 1);
        boxes.answers = {true};
        QTest::mouseClick(form->Image6, Qt::LeftButton);
        QCOMPARE(State(), 0);
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));

        WritePolicySet(*reg, PolicySet::Default);
        form->ShowSecurityState(State(), false);
        boxes.answers = {true};
        QTest::mouseClick(form->ImageSecure, Qt::LeftButton);
        QCOMPARE(boxes.shown.last().prompt, expected::kUnsecureQuestion);
        QCOMPARE(State(), 0);
    }

    void theSwitchDecidesOnWhatTheRegistryHoldsNow() {
        Start(PolicySet::Default);
        form->show();
        form->ShowSecurityState(State(), false);
        WritePolicySet(*reg, PolicySet::Secured);  // another program secures the zone meanwhile
        boxes.answers = {true, false};
        QTest::mouseClick(form->Label9, Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), 2);
        QCOMPARE(boxes.shown[1].title, QStringLiteral("Confirm Disable Security"));
        QCOMPARE(State(), 0);
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));

        const int fills = form->FillCount();  // the legend's first picture reloads the list, and says nothing
        QTest::mouseClick(form->Image3, Qt::LeftButton);
        QCOMPARE(form->FillCount(), fills + 1);
        QCOMPARE(boxes.shown.size(), 2);
    }

    void theLoadShowsTheStateAndAsksOnlyWhenUnprotectedOrKeyless() {
        Start(PolicySet::Secured);
        form->Form_Load();
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(Shows(*form), QStringLiteral("pSecured|De-Secure"));
        QVERIFY(form->pSecured->toolTip().isEmpty());
        const int dpi = form->logicalDpiX();
        for (const QWidget* panel : {form->pSecured, form->pSemisecure, form->pUnsecure})
            QCOMPARE(panel->pos(), QPoint(80 * dpi / 1440, 30 * dpi / 1440));

        Start(PolicySet::Default);
        reg->GetHive().ClearChanged();
        form->Form_Load();  // No: nothing written, the window shows "Secure" and pUnsecure
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].prompt, expected::kUnsecureQuestion);
        QVERIFY(!reg->GetHive().Changed());
        QCOMPARE(Shows(*form), QStringLiteral("pUnsecure|Secure"));

        Start(PolicySet::Secured, false);  // without the zone key, Yes writes nothing
        boxes.answers = {true};
        form->Form_Load();
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Raise the Moatgate?"));
        HKEY k = 0;
        QVERIFY(reg->RegOpenKeyA(HKEY_CURRENT_USER, std::string(kInternetZoneKey), &k) != 0);
        QCOMPARE(Shows(*form), QStringLiteral("pUnsecure|Secure"));
        QCOMPARE(form->pUnsecure->toolTip(), expected::kUnsecurePanelTip);
    }
};

QTEST_MAIN(SecuritySwitchTest)
#include "SecuritySwitchTest.moc"

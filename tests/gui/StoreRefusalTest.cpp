// A change the store refuses is told to the user once per action, and the file
// stays as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>
#include <cstdio>
#include <filesystem>

#include "main_window/FormX.h"
#include "registry/NewStore.h"
#include "registry/ScriptPolicy.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

// Stands in for a Wine prefix's running server: holds the lock on the server
// folder's lock file, which is how Wine tells that its server runs.
std::unique_ptr<test::OtherProcessLock> RunWineServer(const std::string& prefix, std::filesystem::path& folder) {
    struct stat st {};
    ::stat(prefix.c_str(), &st);
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    folder = std::filesystem::path("/tmp/.wine-" + std::to_string(::getuid())) / name;
    std::filesystem::create_directories(folder);
    return std::make_unique<test::OtherProcessLock>((folder / "lock").string());
}

QString ShownPanel(const FormX& form) {
    for (const QWidget* panel : {form.pSecured, form.pSemisecure, form.pUnsecure})
        if (!panel->isHidden()) return panel->objectName();
    return {};
}

}  // namespace

class StoreRefusalTest : public QObject {
    Q_OBJECT

    test::FakeMessageBoxes boxes;

    // The user's store, opened as the program opens it, with the default set.
    std::unique_ptr<RegistryApi> Open(const std::map<std::string, std::string>& env) {
        std::string error;
        auto store = OpenSettingsStore(
            [&env](const char* name) -> const char* {
                const auto it = env.find(name);
                return it == env.end() ? nullptr : it->second.c_str();
            },
            error);
        if (!store) qWarning() << error.c_str();
        return store;
    }

    // Secure pressed on a store that refuses: one message, then the display
    // shows what the store holds; the file is untouched.
    void PressSecureAndExpectRefusal(RegistryApi& reg, const std::string& file, const QStringList& told) {
        FormX form(reg, boxes);
        form.ShowSecurityState(ScriptPolicyState(reg), false);
        const std::string before = test::ReadFile(file);
        boxes = {};
        QTest::mouseRelease(form.cmdSecure, Qt::LeftButton, {}, form.cmdSecure->rect().center());
        QCOMPARE(boxes.shown.size(), 1);
        const auto& message = boxes.shown[0];
        QVERIFY(!message.question);
        QCOMPARE(message.title, QStringLiteral("Moatgate"));
        QCOMPARE(message.icon, MessageBoxes::Icon::Exclamation);
        QVERIFY2(message.prompt.contains(QString::fromStdString(file)), qPrintable(message.prompt));
        for (const QString& words : told) QVERIFY2(message.prompt.contains(words), qPrintable(message.prompt));
        QCOMPARE(test::ReadFile(file), before);
        QCOMPARE(ShownPanel(form), QStringLiteral("pUnsecure"));
        QCOMPARE(form.cmdSecure->text(), QStringLiteral("Secure"));
    }

private slots:
    void aReadOnlyStoreIsToldAndLeftAlone() {
        test::TempDir dir;
        const std::string file = dir.file("user.reg");
        auto reg = Open({{"MOATGATE_REGISTRY", file}});
        QVERIFY(reg);
        QCOMPARE(::chmod(file.c_str(), 0444), 0);
        PressSecureAndExpectRefusal(*reg, file, {"read-only", "chmod u+w"});
    }

    void aBusyWinePrefixIsNamedWithWhatToDo() {
        test::TempDir prefix;
        test::WriteFile(prefix.file("system.reg"), "WINE REGISTRY Version 2\n");
        auto reg = Open({{"WINEPREFIX", prefix.path().string()}});
        QVERIFY(reg);
        std::filesystem::path folder;
        auto server = RunWineServer(prefix.path().string(), folder);
        QVERIFY(server->Held());
        PressSecureAndExpectRefusal(*reg, prefix.file("user.reg"), {"is in use", "wineserver -k"});
        server.reset();
        std::filesystem::remove_all(folder);
    }

    // A load on a read-only store: Yes to "Raise the Moatgate?" is told one
    // message for the refused set of 28 values and none for the toolbar button's
    // three, which nobody asked for. After No, nothing refused is told later.
    void theLoadTellsOnlyTheRefusalOfWhatWasAskedFor() {
        for (const bool yes : {true, false}) {
            test::TempDir dir;
            const std::string file = dir.file("user.reg");
            auto reg = Open({{"MOATGATE_REGISTRY", file}});
            QVERIFY(reg);
            QCOMPARE(::chmod(file.c_str(), 0444), 0);
            const std::string before = test::ReadFile(file);
            boxes = {};
            boxes.answers = {yes};
            FormX form(*reg, boxes);
            form.SetEnvironment({nullptr, nullptr, {"/opt/moatgate", "moatgate", "/opt/moatgate/moatgate"}, {}});
            QVERIFY(form.Form_Load());
            QCOMPARE(boxes.shown.size(), yes ? 2 : 1);
            QCOMPARE(boxes.shown[0].title, QStringLiteral("Raise the Moatgate?"));
            if (yes) QCOMPARE(boxes.shown[1].title, QStringLiteral("Moatgate"));
            QCOMPARE(test::ReadFile(file), before);
            QCOMPARE(ShownPanel(form), QStringLiteral("pUnsecure"));
            if (yes) continue;
            QCOMPARE(::chmod(file.c_str(), 0600), 0);
            QTest::mouseRelease(form.cmdSecure, Qt::LeftButton, {}, form.cmdSecure->rect().center());
            QCOMPARE(boxes.shown.size(), 1);  // the switch worked, and says nothing
            QCOMPARE(ShownPanel(form), QStringLiteral("pSecured"));
        }
    }
};

QTEST_MAIN(StoreRefusalTest)
#include "StoreRefusalTest.moc"

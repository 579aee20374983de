// The store read on a thread of its own while the window is built: the window
// built on it loads as on the store itself; a store that cannot be read, whole
// or in part, is explained, and nothing is written to it.
#include <QtTest>

#include <filesystem>

#include "app/Startup.h"
#include "main_window/FormX.h"
#include "registry/ScriptPolicy.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

// An environment naming the store file, and nothing else.
auto Naming(const std::string& path) {
    return [path](const char* name) -> const char* {
        return std::string(name) == "MOATGATE_REGISTRY" ? path.c_str() : nullptr;
    };
}

}  // namespace

class OpeningStoreTest : public QObject {
    Q_OBJECT

private slots:
    void theWindowLoadsFromTheStoreOpenedBesideIt() {
        test::TempDir dir;
        const std::string path = dir.file("user.reg");
        {
            std::string error;
            auto seed = OpenSettingsStore(Naming(path), error);
            QVERIFY2(seed, error.c_str());
            WritePolicySet(*seed, PolicySet::Secured);
            StoreScope sites(*seed, true);
            for (int i = 0; i < 300; ++i) test::Zone(*seed, "s" + std::to_string(i) + ".example", "*", 4);
        }
        test::FakeMessageBoxes boxes;
        OpeningStore store(Naming(path));
        FormX form(store, boxes);
        QVERIFY(store.Wait(boxes));
        QVERIFY(form.Form_Load());
        QCOMPARE(form.LVw->model()->rowCount(), 300);
        TellIfReadOnly(store, boxes);  // whole: nothing to say
        QVERIFY(boxes.shown.isEmpty());
        test::Zone(store, "s7.example", "*", 2);  // changes go to the store itself, and so to its file
        const std::string text = test::ReadFile(path);
        const auto at = text.find("Domains\\\\s7.example]");
        QVERIFY(at != std::string::npos && text.find("\"*\"=dword:00000002", at) < text.find('[', at + 1));
    }

    // Rejected whole: told, and no call reaches the file. A line that cannot be
    // taken as written: the rest is read, and the user is told before the window
    // opens that nothing can be changed.
    void aStoreThatCannotBeReadIsExplainedAndLeftAlone() {
        const struct {
            std::string text, told;
            bool opens;
        } rows[] = {{"WINE REGISTRY Version 2 \n[Software\\\\X]\n", ":1: not a valid registry file", false},
                    {"WINE REGISTRY Version 2\n[Software\\\\X]\n\"x\"=DWORD:1\n", ":3: Malformed value", true}};
        for (const auto& row : rows) {
            test::TempDir dir;
            const std::string path = dir.file("user.reg");
            test::WriteFile(path, row.text);
            test::FakeMessageBoxes boxes;
            OpeningStore store(Naming(path));
            FormX form(store, boxes);
            QCOMPARE(store.Wait(boxes), row.opens);
            if (row.opens) TellIfReadOnly(store, boxes);
            QCOMPARE(boxes.shown.size(), 1);
            const auto& box = boxes.shown[0];
            QCOMPARE(box.icon, row.opens ? MessageBoxes::Icon::Exclamation : MessageBoxes::Icon::Critical);
            QVERIFY2(box.prompt.contains(QString::fromStdString(path + row.told)), qPrintable(box.prompt));
            QVERIFY(!row.opens || box.prompt.contains(QStringLiteral("changes nothing until that line is mended")));
            HKEY key = 0;
            QVERIFY(store.RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Y", 0, "", 0, KEY_ALL_KEY_RIGHTS, nullptr,
                                          &key, nullptr) != 0);
            QCOMPARE(test::ReadFile(path), row.text);
        }
    }

    // The thread takes its own copy of each variable that places the store: each
    // one alone still leads it to the file it names. A relative XDG_DATA_HOME is
    // no place at all, and HOME is taken instead.
    void theStoreOpenedBesideTheWindowIsWhereTheEnvironmentPutsIt() {
        test::TempDir dir;
        const std::string data = dir.file("data"), home = dir.file("home"), prefix = dir.file("prefix"),
                          otherHome = dir.file("other-home");
        for (const std::string& folder : {data, home, prefix, otherHome}) std::filesystem::create_directories(folder);
        // Relative, yet leading into the test's own folder wherever it is read from.
        const std::string relativeData =
            std::filesystem::relative(dir.file("relative-data"), std::filesystem::current_path()).string();
        const struct {
            const char* name;
            std::string value;
            std::string store;
            std::string home = {};
        } cases[] = {{"XDG_DATA_HOME", data, data + "/moatgate/user.reg"},
                     {"HOME", home, home + "/.local/share/moatgate/user.reg"},
                     {"WINEPREFIX", prefix, prefix + "/user.reg"},
                     {"XDG_DATA_HOME", relativeData, otherHome + "/.local/share/moatgate/user.reg", otherHome}};
        for (const auto& c : cases) {
            test::FakeMessageBoxes boxes;
            OpeningStore store([&](const char* name) -> const char* {
                if (std::string(name) == c.name) return c.value.c_str();
                return std::string(name) == "HOME" && !c.home.empty() ? c.home.c_str() : nullptr;
            });
            QVERIFY2(store.Wait(boxes), c.name);
            QVERIFY2(std::filesystem::exists(c.store), c.name);
        }
    }
};

QTEST_MAIN(OpeningStoreTest)
#include "OpeningStoreTest.moc"
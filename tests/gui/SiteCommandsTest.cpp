// Trust, Declassify, Restrict and Delete on a store file, driven by clicks.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include "main_window/FormX.h"
#include "registry/NewStore.h"
#include "registry/Registry.h"
#include "registry/SettingsKeys.h"
#include "registry/store/FileStore.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

const std::string kDomains = std::string(kZoneMapKey);

}  // namespace

class SiteCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir;
    std::string file;
    std::unique_ptr<FileStore> reg;
    test::FakeMessageBoxes boxes;
    std::unique_ptr<FormX> form;

    void Start() {
        form.reset();
        dir = std::make_unique<test::TempDir>();
        file = dir->file("user.reg");
        std::string error;
        reg = FileStore::Open(file, error, nullptr, &SeedNewStore);
        QVERIFY2(reg, error.c_str());
        boxes = {};
        form = std::make_unique<FormX>(*reg, boxes);
        form->show();
    }
    void Zone(const std::string& key, const std::string& name, std::uint32_t zone) { test::Zone(*reg, key, name, zone); }
    void Key(const std::string& key) { reg->RegCloseKey(test::Create(*reg, kDomains + "\\" + key)); }
    std::string Value(const std::string& key, const std::string& name) {
        return ReadRegistryValueText(*reg, HKEY_CURRENT_USER, kDomains + "\\" + key, name);
    }
    bool Exists(const std::string& key) {
        HKEY k = 0;
        const bool found = reg->RegOpenKeyA(HKEY_CURRENT_USER, kDomains + "\\" + key, &k) == 0;
        reg->RegCloseKey(k);
        return found;
    }
    // Clicks the row that shows as "protocol|subdomain|domain|picture".
    void Select(const QString& shown) {
        form->Refresher();
        const int r = static_cast<int>(Rows().indexOf(shown));
        QVERIFY2(r >= 0, qPrintable(shown));
        const QModelIndex index = form->LVw->model()->index(r, 2);
        form->LVw->scrollTo(index);
        QTest::mouseClick(form->LVw->viewport(), Qt::LeftButton, {}, form->LVw->visualRect(index).center());
        QCOMPARE(FirstSelectedRow(form->Sites()), std::size_t(r + 1));
    }
    QStringList Rows() {
        QStringList rows;
        for (const SiteRow& r : form->Sites().Rows())
            rows << QString::fromStdString(r.text + "|" + r.subdomain + "|" + r.domain + "|" + std::to_string(r.icon));
        return rows;
    }

private slots:
    void cleanup() {
        form.reset();
        reg.reset();
        dir.reset();
    }

    void zonesGoToTheSelectedRowsValueAndNoRemovedKeyComesBack() {
        Start();
        Zone("bb.cc", "*", 4);
        Zone("aa.example\\www", "http", 4);
        Zone("aa.example\\www", "https", 4);
        Select("Default||bb.cc|4");
        QTest::mouseClick(form->cmdTrust, Qt::LeftButton);
        QCOMPARE(Value("bb.cc", "*"), std::string("2"));
        QCOMPARE(FirstSelectedRow(form->Sites()), 3u);  // the position is kept

        Select("http|www|aa.example|4");
        QTest::mouseClick(form->cmdTrust, Qt::LeftButton);
        QCOMPARE(Value("aa.example\\www", "http") + Value("aa.example\\www", "https") + Value("aa.example", "http"),
                 std::string("24"));  // that value alone, on its own key
        QCOMPARE(FirstSelectedRow(form->Sites()), 1u);
        QTest::mouseClick(form->cmdDeclassify, Qt::LeftButton);  // 3, not a deletion
        QCOMPARE(Value("aa.example\\www", "http"), std::string("3"));
        QTest::mouseClick(form->cmdRestrict, Qt::LeftButton);
        QCOMPARE(Value("aa.example\\www", "http"), std::string("4"));
        QCOMPARE(FirstSelectedRow(form->Sites()), 1u);
        QVERIFY(boxes.shown.isEmpty());

        Zone("gone.example\\www", "http", 4);  // the row of a key removed meanwhile gets nothing, and goes
        Select("http|www|gone.example|4");
        QCOMPARE(reg->RegDeleteKeyA(HKEY_CURRENT_USER, kDomains + "\\gone.example\\www"), 0);
        QTest::mouseClick(form->cmdTrust, Qt::LeftButton);
        QVERIFY(!Exists("gone.example\\www"));  // not created again
        QVERIFY(!Rows().contains(QStringLiteral("http|www|gone.example|2")));
    }

    void withNothingSelectedTheStoreIsLeftAlone() {
        Start();
        Zone("bb.cc", "*", 4);
        Key("empty.example");
        form->Refresher();
        form->LVw->clearSelection();
        QCOMPARE(FirstSelectedRow(form->Sites()), 3u);
        const std::string before = test::ReadFile(file);
        for (QToolButton* command : {form->cmdTrust, form->cmdDeclassify, form->cmdRestrict, form->cmdDelete})
            QTest::mouseClick(command, Qt::LeftButton);
        QCOMPARE(test::ReadFile(file), before);
        QVERIFY(Exists("empty.example"));  // no sweep either
    }

    void deleteTakesTheValueAndTheKeysLeftEmpty() {
        Start();
        Zone("bb.cc\\www", "http", 4);
        Zone("two.example\\www", "http", 4);
        Zone("two.example\\www", "https", 2);
        Zone("own.example", "*", 2);
        Zone("own.example\\www", "http", 4);
        Key("bare.example");  // shown empty: swept away too
        Select("http|www|bb.cc|4");
        QTest::mouseClick(form->cmdDelete, Qt::LeftButton);
        QCOMPARE(FirstSelectedRow(form->Sites()), 2u);  // the position is kept
        Select("https|www|two.example|2");
        QTest::mouseClick(form->cmdDelete, Qt::LeftButton);
        Select("http|www|own.example|4");
        QTest::mouseClick(form->cmdDelete, Qt::LeftButton);
        // Every key left empty went (an empty key shows as a row of its own).
        QCOMPARE(Rows(), (QStringList{"Default||own.example|2", "http|www|two.example|4"}));
        QVERIFY(!Exists("bb.cc") && !Exists("bare.example") && !Exists("own.example\\www"));
    }

    void aRefusedSweepLeavesEveryKeyAsItWas() {
        Start();
        Zone("bb.cc\\www", "http", 4);
        for (int i = 0; i < 20; ++i) Key("empty" + std::to_string(i) + ".example");
        Select("http|www|bb.cc|4");
        QCOMPARE(::chmod(file.c_str(), 0444), 0);
        const std::string before = test::ReadFile(file);
        QTest::mouseClick(form->cmdDelete, Qt::LeftButton);
        QCOMPARE(boxes.shown.size(), 1);  // one message for the deletion and the whole sweep
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Moatgate"));
        QVERIFY(boxes.shown[0].prompt.contains(QString::fromStdString(file)));
        QCOMPARE(test::ReadFile(file), before);
        QVERIFY(Rows().contains(QStringLiteral("http|www|bb.cc|4")));
        QCOMPARE(form->Sites().Count(), 21u);
    }

    void aSweepIsOneChangeOfTheStore() {
        Start();
        for (int i = 0; i < 50; ++i) Key("empty" + std::to_string(i) + ".example");
        Zone("bb.cc", "http", 4);
        Select("http||bb.cc|4");
        // Every stored change moves a new file of its own into place: count them.
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(::inotify_add_watch(watch, dir->path().c_str(), IN_MOVED_FROM) >= 0);
        QTest::mouseClick(form->cmdDelete, Qt::LeftButton);
        int replaced = 0;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (char* p = events; p < events + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if (event->len && std::string(event->name).rfind(".user.reg.", 0) == 0) ++replaced;
                p += sizeof(inotify_event) + event->len;
            }
        ::close(watch);
        QCOMPARE(replaced, 2);  // the value's deletion, then the whole sweep
        QCOMPARE(form->Sites().Count(), 0u);
        QVERIFY(!Exists("empty0.example") && !Exists("empty49.example") && !Exists("bb.cc"));
    }
};

QTEST_MAIN(SiteCommandsTest)
#include "SiteCommandsTest.moc"

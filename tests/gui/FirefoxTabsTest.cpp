// The addresses of the tabs open in Firefox, as today's Firefox lays out its
// profiles, and only while that Firefox runs.
#include <lz4.h>
#include <signal.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "platform/Browsers.h"
#include "tests/unit/TestSupport.h"

using namespace moatgate;

namespace {

void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// A Firefox session file: "mozLz40\0", the size, one LZ4 block.
void WriteSession(const QString& path, const QByteArray& json) {
    QByteArray out("mozLz40\0", 8);
    const auto size = static_cast<quint32>(json.size());
    for (int i = 0; i < 4; ++i) out.append(static_cast<char>((size >> (8 * i)) & 0xFF));
    QByteArray block(LZ4_compressBound(static_cast<int>(json.size())), Qt::Uninitialized);
    const int n = LZ4_compress_default(json.constData(), block.data(), static_cast<int>(json.size()),
                                       static_cast<int>(block.size()));
    WriteText(path, out + block.left(n));
}

QByteArray OneTab(const char* url) {
    return QByteArray("{\"windows\":[{\"tabs\":[{\"entries\":[{\"url\":\"") + url + "\"}],\"index\":1}]}]}";
}

// Two windows: the first tab shows its second entry, the second tab its first of
// two (the user went back), a tab without entries shows nothing.
const QByteArray kSession = "{\"windows\":[\n"
    "  {\"tabs\":[{\"entries\":[{\"url\":\"https://a.example/\"},{\"url\":\"https://b.example/\"}],\"index\":2},\n"
    "           {\"entries\":[{\"url\":\"https://back.example/\"},{\"url\":\"https://forward.example/\"}],"
    "\"index\":1}]},\n"
    "  {\"tabs\":[{\"entries\":[{\"url\":\"https://c.example/x\"}],\"index\":1},{\"entries\":[]}]}]}";

// A home folder, and the tabs offered from it.
struct Home {
    test::TempDir dir;
    QString home = QString::fromStdString(dir.path().string());
    QString config = home + "/.config/mozilla/firefox";
    QString legacy = home + "/.mozilla/firefox";

    std::vector<std::string> Folders() const {
        const std::string h = home.toStdString();
        return FirefoxTabs::ProfileFolders([&h](const char* name) -> const char* {
            return std::string(name) == "HOME" ? h.c_str() : nullptr;
        });
    }
    std::vector<std::string> Tabs() const { return FirefoxTabs(Folders()).Addresses(); }
};

// Answers every request with one small page.
class PageServer : public QTcpServer {
public:
    PageServer() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 44\r\n"
                                  "Connection: close\r\n\r\n<html><body>A page to trust.</body></html>\n");
                    socket->disconnectFromHost();
                });
        });
    }
};

}  // namespace

class FirefoxTabsTest : public QObject {
    Q_OBJECT

private slots:
    void theTabsOfTheRunningInstallDefaultAreOffered() {
        Home h;  // as a user's Firefox 153 leaves it
        WriteText(h.config + "/profiles.ini",
                  "[Profile1]\nName=default\nIsRelative=1\nPath=bt09yek5.default\nDefault=1\n\n"
                  "[Profile0]\nName=default-esr\nIsRelative=1\nPath=j1puxh2g.default-esr\n\n"
                  "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
                  "[Install3B6073811A6ABF12]\nDefault=j1puxh2g.default-esr\nLocked=1\n");
        WriteSession(h.config + "/bt09yek5.default/sessionstore-backups/recovery.jsonlz4",
                     OneTab("https://not-the-install-default.example/"));
        WriteSession(h.config + "/j1puxh2g.default-esr/sessionstore-backups/recovery.jsonlz4", kSession);
        // An older Firefox's folder with a profile of its own, marked default.
        WriteText(h.legacy + "/profiles.ini", "[Profile0]\nName=default\nIsRelative=1\nPath=old.default\nDefault=1\n");
        WriteSession(h.legacy + "/old.default/sessionstore-backups/recovery.jsonlz4", OneTab("https://older.example/"));
        QVERIFY(h.Tabs().empty());  // neither runs

        test::OtherProcessLock olderRuns((h.legacy + "/old.default/.parentlock").toStdString());
        QVERIFY(olderRuns.Held());
        QCOMPARE(h.Tabs(), std::vector<std::string>{"https://older.example/"});  // the only one running

        {
            test::OtherProcessLock runs((h.config + "/j1puxh2g.default-esr/.parentlock").toStdString());
            QVERIFY(runs.Held());
            QCOMPARE(h.Tabs(), (std::vector<std::string>{"https://b.example/", "https://back.example/",
                                                         "https://c.example/x"}));
        }
        QCOMPARE(h.Tabs(), std::vector<std::string>{"https://older.example/"});  // the session file is stale now

        // A broken session file: no addresses, no complaint.
        WriteText(h.legacy + "/old.default/sessionstore-backups/recovery.jsonlz4", QByteArray("mozLz40\0\x10\0\0\0garbage", 19));
        QVERIFY(h.Tabs().empty());
    }

    // Today's Firefox, as Debian ships it: its own profile, its own session file.
    void aRealFirefoxWithAPageOpen() {
        const QString firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
        if (firefox.isEmpty()) QSKIP("Debian's firefox-esr is not installed (scripts/deps.sh --all installs it)");
        PageServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString url = QStringLiteral("http://127.0.0.1:%1/page.html").arg(server.serverPort());
        Home h;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), h.home);
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("MOZ_CRASHREPORTER_DISABLE"), QStringLiteral("1"));
        // A first run makes the profile; the second, with the session saved often, opens the page.
        QProcess first;
        first.setProcessEnvironment(env);
        first.start(firefox, {QStringLiteral("--headless"), QStringLiteral("--screenshot"),
                              h.home + QStringLiteral("/shot.png"), QStringLiteral("about:blank")});
        QVERIFY(first.waitForFinished(120000));
        QSettings profiles(h.config + QStringLiteral("/profiles.ini"), QSettings::IniFormat);
        QString profile;
        for (const QString& group : profiles.childGroups())
            if (group.startsWith(QStringLiteral("Install"))) profile = profiles.value(group + "/Default").toString();
        QVERIFY2(!profile.isEmpty(), "no install default in profiles.ini");
        WriteText(h.config + "/" + profile + "/user.js", "user_pref(\"browser.sessionstore.interval\", 500);\n");

        QProcess browser;
        browser.setProcessEnvironment(env);
        browser.start(firefox, {QStringLiteral("--headless"), url});
        QVERIFY(browser.waitForStarted());
        std::vector<std::string> seen;
        for (QDeadlineTimer deadline(90000); !deadline.hasExpired();) {
            QTest::qWait(500);  // serves the page meanwhile
            seen = h.Tabs();
            if (std::find(seen.begin(), seen.end(), url.toStdString()) != seen.end()) break;
        }
        QVERIFY2(std::find(seen.begin(), seen.end(), url.toStdString()) != seen.end(),
                 qPrintable(QString::number(seen.size()) + " other tabs seen"));
        ::kill(static_cast<pid_t>(browser.processId()), SIGKILL);  // even a crash leaves nothing to offer
        QVERIFY(browser.waitForFinished(30000));
        QVERIFY(h.Tabs().empty());
    }
};

QTEST_MAIN(FirefoxTabsTest)
#include "FirefoxTabsTest.moc"

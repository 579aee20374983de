#include <fcntl.h>
#include <lz4.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "platform/Browsers.h"

namespace moatgate {

namespace {

struct DefaultProfile {
    QString path;
    bool installDefault = false;  // named by the install itself, not only marked Default=1
};

// The profile a Firefox started without arguments uses: the one its install
// names ("[Install...] Default="), else the one marked Default=1, else the first.
DefaultProfile FindDefaultProfile(const QString& folder) {
    QFile ini(folder + QStringLiteral("/profiles.ini"));
    if (!ini.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    struct Section {
        QString name;
        QMap<QString, QString> values;
    };
    QList<Section> sections;
    QTextStream in(&ini);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            sections.append({line.mid(1, line.size() - 2), {}});
        } else if (!sections.isEmpty() && line.contains(QLatin1Char('='))) {
            const int eq = static_cast<int>(line.indexOf(QLatin1Char('=')));
            sections.last().values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
        }
    }
    // A path is relative to the folder when marked so, or, unmarked, when it is not absolute.
    auto resolve = [&](const QString& path, const QString& isRelative) {
        const bool relative = isRelative.isEmpty() ? !QDir::isAbsolutePath(path) : isRelative == QStringLiteral("1");
        return relative ? folder + QLatin1Char('/') + path : path;
    };
    for (const Section& s : sections)
        if (s.name.startsWith(QStringLiteral("Install")) && !s.values.value(QStringLiteral("Default")).isEmpty())
            return {resolve(s.values.value(QStringLiteral("Default")), {}), true};
    const Section* chosen = nullptr;
    for (const Section& s : sections) {
        if (!s.name.startsWith(QStringLiteral("Profile")) || !s.values.contains(QStringLiteral("Path"))) continue;
        if (!chosen || s.values.value(QStringLiteral("Default")) == QStringLiteral("1")) chosen = &s;
        if (s.values.value(QStringLiteral("Default")) == QStringLiteral("1")) break;
    }
    if (!chosen) return {};
    return {resolve(chosen->values.value(QStringLiteral("Path")), chosen->values.value(QStringLiteral("IsRelative"))),
            false};
}

// A "mozLz40" file: the magic, the decompressed size (32-bit little-endian), and
// one LZ4 block.
QByteArray ReadMozLz4(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    static const QByteArray magic("mozLz40\0", 8);
    if (bytes.size() < 12 || !bytes.startsWith(magic)) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData()) + 8;
    const quint32 size = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<quint32>(p[3]) << 24);
    if (size == 0 || size > (512u << 20)) return {};
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    const int got = LZ4_decompress_safe(bytes.constData() + 12, out.data(), static_cast<int>(bytes.size() - 12),
                                        static_cast<int>(size));
    if (got < 0) return {};
    out.resize(got);
    return out;
}

std::vector<std::string> TabsOf(const QByteArray& json) {
    std::vector<std::string> addresses;
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    for (const QJsonValue& window : doc.object().value(QStringLiteral("windows")).toArray()) {
        for (const QJsonValue& tab : window.toObject().value(QStringLiteral("tabs")).toArray()) {
            const QJsonArray entries = tab.toObject().value(QStringLiteral("entries")).toArray();
            if (entries.isEmpty()) continue;
            // "index" counts from 1 and names the entry the tab shows now; the
            // entries after it are pages the user went back from.
            qsizetype index = tab.toObject().value(QStringLiteral("index")).toInt(static_cast<int>(entries.size()));
            if (index < 1 || index > entries.size()) index = entries.size();
            const QString url = entries.at(index - 1).toObject().value(QStringLiteral("url")).toString();
            if (!url.isEmpty()) addresses.push_back(url.toStdString());
        }
    }
    return addresses;
}

}  // namespace

bool FirefoxProfileInUse(const std::string& profile) {
    // A running Firefox holds a write lock on the whole of ".parentlock"; the lock
    // goes with the process, however it ends.
    const int fd = ::open((profile + "/.parentlock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

std::vector<std::string> FirefoxTabs::ProfileFolders(const Env& env) {
    auto set = [&](const char* name) -> QString {
        const char* v = env(name);
        return v && *v ? QString::fromLocal8Bit(v) : QString();
    };
    const QString home = set("HOME");
    QString config = set("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) config = home.isEmpty() ? QString() : home + QStringLiteral("/.config");
    std::vector<std::string> folders;
    if (!config.isEmpty()) folders.push_back((config + QStringLiteral("/mozilla/firefox")).toStdString());
    if (!home.isEmpty()) {
        for (const char* below : {"/.mozilla/firefox", "/snap/firefox/common/.mozilla/firefox",
                                  "/.var/app/org.mozilla.firefox/.mozilla/firefox"})
            folders.push_back((home + QString::fromLatin1(below)).toStdString());
    }
    return folders;
}

std::vector<std::string> FirefoxTabs::Addresses() {
    // Folders whose profiles.ini names the install's default come first: an older
    // Firefox may have left a profiles.ini of its own behind elsewhere.
    std::vector<DefaultProfile> profiles;
    for (const bool installDefault : {true, false})
        for (const std::string& folder : folders_) {
            const DefaultProfile found = FindDefaultProfile(QString::fromStdString(folder));
            if (!found.path.isEmpty() && found.installDefault == installDefault) profiles.push_back(found);
        }
    for (const DefaultProfile& profile : profiles) {
        if (!FirefoxProfileInUse(profile.path.toStdString())) continue;
        const QByteArray json = ReadMozLz4(profile.path + QStringLiteral("/sessionstore-backups/recovery.jsonlz4"));
        if (!json.isEmpty()) return TabsOf(json);
    }
    return {};
}

}  // namespace moatgate

#include <lz4.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "platform/Browsers.h"

namespace moatgate {

namespace {

// The default profile's folder: the install's default ("[Install...] Default="),
// else the profile marked Default=1, else the first one.
QString DefaultProfile(const QString& home) {
    QFile ini(home + QStringLiteral("/profiles.ini"));
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
    auto resolve = [&](const QString& path, bool relative) { return relative ? home + QLatin1Char('/') + path : path; };
    for (const Section& s : sections)
        if (s.name.startsWith(QStringLiteral("Install")) && !s.values.value(QStringLiteral("Default")).isEmpty()) {
            const QString path = s.values.value(QStringLiteral("Default"));
            return resolve(path, !QDir::isAbsolutePath(path));
        }
    const Section* chosen = nullptr;
    for (const Section& s : sections) {
        if (!s.name.startsWith(QStringLiteral("Profile")) || !s.values.contains(QStringLiteral("Path"))) continue;
        if (!chosen || s.values.value(QStringLiteral("Default")) == QStringLiteral("1")) chosen = &s;
        if (s.values.value(QStringLiteral("Default")) == QStringLiteral("1")) break;
    }
    if (!chosen) return {};
    return resolve(chosen->values.value(QStringLiteral("Path")),
                   chosen->values.value(QStringLiteral("IsRelative"), QStringLiteral("1")) == QStringLiteral("1"));
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
            // "index" counts from 1 and names the entry the tab shows now.
            qsizetype index = tab.toObject().value(QStringLiteral("index")).toInt(static_cast<int>(entries.size()));
            if (index < 1 || index > entries.size()) index = entries.size();
            const QString url = entries.at(index - 1).toObject().value(QStringLiteral("url")).toString();
            if (!url.isEmpty()) addresses.push_back(url.toStdString());
        }
    }
    return addresses;
}

}  // namespace

std::vector<std::string> FirefoxTabs::Addresses() {
    QStringList homes;
    if (!home_.empty()) {
        homes << QString::fromStdString(home_);
    } else {
        const QString home = QDir::homePath();
        homes << home + QStringLiteral("/.mozilla/firefox") << home + QStringLiteral("/snap/firefox/common/.mozilla/firefox")
              << home + QStringLiteral("/.var/app/org.mozilla.firefox/.mozilla/firefox");
    }
    for (const QString& home : homes) {
        const QString profile = DefaultProfile(home);
        if (profile.isEmpty()) continue;
        const QByteArray json = ReadMozLz4(profile + QStringLiteral("/sessionstore-backups/recovery.jsonlz4"));
        if (!json.isEmpty()) return TabsOf(json);
    }
    return {};
}

}  // namespace moatgate

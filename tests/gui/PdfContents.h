// What a PDF shows, as poppler's tools read it: the text line by line, the
// number of pages, and how many pixels of a page carry a colour.
#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

namespace moatgate::test {

inline bool HavePoppler() {
    return !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty();
}

// The text as laid out on the pages; a form feed ends each page.
inline QString PdfText(const QString& pdf) {
    QProcess run;
    run.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!run.waitForFinished(120000) || run.exitCode() != 0) return {};
    return QString::fromUtf8(run.readAllStandardOutput());
}

inline int PdfPages(const QString& text) { return static_cast<int>(text.count(QLatin1Char('\f'))); }

// The non-blank lines, with every run of blanks (the report's tabs) made one space.
inline QStringList PdfLines(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("[\n\f]")))) {
        const QString simple = line.simplified();
        if (!simple.isEmpty()) lines << simple;
    }
    return lines;
}

// The pages drawn at `dpi` dots per inch.
inline QList<QImage> PdfImages(const QString& pdf, int dpi) {
    QTemporaryDir dir;
    QProcess run;
    run.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), pdf,
                                           dir.filePath(QStringLiteral("page"))});
    QList<QImage> pages;
    if (!run.waitForFinished(120000) || run.exitCode() != 0) return pages;
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("page*.png")}, QDir::Files, QDir::Name);
    for (const QString& file : files) pages << QImage(dir.filePath(file));
    return pages;
}

// Pixels within a small distance of the colour: the full strokes of a glyph, not
// the blend at its edges.
inline int PixelsOf(const QImage& image, QColor colour) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const int dr = qRed(line[x]) - colour.red(), dg = qGreen(line[x]) - colour.green(),
                      db = qBlue(line[x]) - colour.blue();
            if (dr * dr + dg * dg + db * db <= 50 * 50) ++count;
        }
    }
    return count;
}

}  // namespace moatgate::test

#include "main_window/ReportDocument.h"

#include <QTextCursor>
#include <QTextDocument>

namespace moatgate {

namespace {

QTextCharFormat CharFormat(const ReportFormat& format) {
    QTextCharFormat chars;
    if (format.font) {
        const QString family = QString::fromUtf8(format.font->data(), static_cast<qsizetype>(format.font->size()));
        chars.setFontFamilies(QStringList{family});
        // Where the named face is missing, a face of the same kind keeps the
        // columns of the body straight.
        chars.setFontStyleHint(family == QStringLiteral("Courier New") ? QFont::TypeWriter : QFont::SansSerif);
        chars.setFontFixedPitch(family == QStringLiteral("Courier New"));
    }
    if (format.pointSize) chars.setFontPointSize(*format.pointSize);
    if (format.bold) chars.setFontWeight(*format.bold ? QFont::Bold : QFont::Normal);
    if (format.colour) chars.setForeground(QColor(format.colour->red, format.colour->green, format.colour->blue));
    return chars;
}

}  // namespace

void FillReportDocument(QTextDocument& document, std::u16string_view text, const std::vector<ReportFormat>& formats) {
    document.setUndoRedoEnabled(false);
    // The characters no format reaches: the blank lines above the title and the
    // tabs that open the title and header lines.
    QFont plain(QStringLiteral("Arial"));
    plain.setStyleHint(QFont::SansSerif);
    plain.setPointSize(10);
    document.setDefaultFont(plain);
    QString plainText = QStringView(text.data(), static_cast<qsizetype>(text.size())).toString();
    // The document takes CR LF as one line break, which would shift every later
    // position by one: a CR inside a site's name is shown as a replacement mark.
    plainText.replace(QLatin1Char('\r'), QChar::ReplacementCharacter);
    document.setPlainText(plainText);
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    for (const ReportFormat& format : formats) {
        cursor.setPosition(static_cast<int>(format.start));
        cursor.setPosition(static_cast<int>(format.start + format.length), QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(CharFormat(format));
    }
    cursor.endEditBlock();
}

}  // namespace moatgate

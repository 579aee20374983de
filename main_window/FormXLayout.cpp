// FormX's arrangement: the legend and the logo at their design places, and the
// resize rules applied to the widgets.
#include <QEvent>
#include <QFontMetrics>
#include <algorithm>
#include <QHeaderView>
#include <QIcon>
#include <QVBoxLayout>

#include "main_window/FormX.h"
#include "main_window/core/Twips.h"

namespace moatgate {

namespace {

QLabel* LegendText(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAccessibleName(text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The legend's rows are a fixed height: its texts take the largest size, up to
// the window's own, at which the whole text fits, whatever the fonts at hand.
void FitText(QLabel* label) {
    QFont font = label->font();
    const qreal largest = std::min<qreal>(font.pointSizeF() > 0 ? font.pointSizeF() : 9, 9);
    for (qreal size = largest; size >= 5.5; size -= 0.25) {
        font.setPointSizeF(size);
        const QRect needed = QFontMetrics(font).boundingRect(QRect(0, 0, label->width(), 10000),
                                                             Qt::TextWordWrap, label->text());
        if (needed.height() <= label->height()) break;
    }
    label->setFont(font);
}

QFrame* Separator(QWidget* parent, const char* name) {
    auto* line = new QFrame(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

void FormX::Place(QWidget* widget, const Box& box) {
    widget->setGeometry(Px(box.left), Px(box.top), Px(box.width), Px(box.height));
}

void FormX::Place(QFrame* line, const HLine& at) {
    // A line is drawn through its end points: two pixels high, centred on them.
    line->setGeometry(Px(at.x1), Px(at.y) - 1, Px(at.x2 - at.x1), 2);
}

void FormX::BuildLegend() {
    Frame1 = new QGroupBox(QStringLiteral("Moatgate"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Place(Frame1, design::kLogoFrame);
    Picture1 = new QWidget(Frame1);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Place(Picture1, design::kLogoPicture);
    Image1 = new QLabel(Picture1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("Moatgate"));
    Place(Image1, design::kLogo);
    Image1->setPixmap(QIcon(QStringLiteral(":/dialogs/banner.svg")).pixmap(Image1->size()));

    // One row per picture: what it means, a separator under the first three.
    // The pictures are the buttons' own, so the legend explains them.
    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Place(Image2, design::kLegendTrusted);
    Image2->setPixmap(images_.Picture(kZoneTrusted).pixmap(Image2->size()));
    Label1 = LegendText(this, "Label1",
                        QStringLiteral("Can run any script on your computer - Only for Banks and Escrow providers you "
                                       "can trust with your life savings!"));
    Place(Label1, design::kLegendTrustedText);
    Line1 = Separator(this, "Line1");
    Place(Line1, design::kLine1);

    Image3 = new QLabel(this);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setAccessibleName(QStringLiteral("Reload the site list"));
    Image3->setToolTip(QStringLiteral("Reload the site list"));
    Place(Image3, design::kLegendUnclassified);
    Image3->setPixmap(QIcon(QStringLiteral(":/legend/image3.svg")).pixmap(Image3->size()));
    OnClick(Image3, [this] { Image3_Click(); });
    Label3 = LegendText(this, "Label3",
                        QStringLiteral("Unclassified - sites under consideration for Trusted or Restricted Status - "
                                       "Selected Moatgate Settings apply."));
    Place(Label3, design::kLegendUnclassifiedText);
    Line2 = Separator(this, "Line2");
    Place(Line2, design::kLine2);

    Image4 = new QLabel(this);
    Image4->setObjectName(QStringLiteral("Image4"));
    Place(Image4, design::kLegendRestricted);
    Image4->setPixmap(images_.Picture(kZoneRestricted).pixmap(Image4->size()));
    Label4 = LegendText(this, "Label4",
                        QStringLiteral("Restricted - the site is not allowed any standard access to client side "
                                       "functions. This is for malicious sites."));
    Place(Label4, design::kLegendRestrictedText);
    Line3 = Separator(this, "Line3");
    Place(Line3, design::kLine3);

    Image5 = new QLabel(this);
    Image5->setObjectName(QStringLiteral("Image5"));
    Place(Image5, design::kLegendDelete);
    Image5->setPixmap(QIcon(QStringLiteral(":/buttons/delete.svg")).pixmap(Image5->size()));
    Label5 = LegendText(this, "Label5",
                        QStringLiteral("Delete Site - This removes the site from the list when it no longer warrants "
                                       "Trusted or Restricted Status."));
    Place(Label5, design::kLegendDeleteText);
    for (QLabel* picture : {Image2, Image3, Image4, Image5}) picture->setAlignment(Qt::AlignCenter);
    for (QLabel* text : {Label1, Label3, Label4, Label5}) FitText(text);
}

void FormX::Form_Resize() {
    const int dpi = logicalDpiX();
    const WindowState state = isMinimized()   ? WindowState::Minimized
                              : isMaximized() ? WindowState::Maximized
                                              : WindowState::Normal;
    // The rules are written for the outer size of a window with standard borders
    // and caption; the client area is what is ours on every desktop, so the
    // outer size is taken as the design counts it.
    const int W = PixelsToTwips(width(), dpi) + design::kFrameWidth;
    const int H = PixelsToTwips(height(), dpi) + design::kFrameHeight;
    const auto r = ::moatgate::Form_Resize(state, W, H, PixelsToTwips(LVw->columnWidth(0), dpi),
                                           PixelsToTwips(LVw->columnWidth(1), dpi));
    if (!r) return;
    auto top = [this](QWidget* w, int twips) { w->move(w->x(), Px(twips)); };
    auto left = [this](QWidget* w, int twips) { w->move(Px(twips), w->y()); };
    top(Frame1, r->logoFrameTop);
    top(Image2, r->legendTrustedTop);
    top(Label1, r->legendTrustedTextTop);
    Place(Line1, r->line1);
    top(Image3, r->legendUnclassifiedTop);
    top(Label3, r->legendUnclassifiedTextTop);
    Place(Line2, r->line2);
    top(Image4, r->legendRestrictedTop);
    top(Label4, r->legendRestrictedTextTop);
    Place(Line3, r->line3);
    top(Image5, r->legendDeleteTop);
    top(Label5, r->legendDeleteTextTop);
    LVw->resize(Px(r->listWidth), Px(r->listHeight));
    txtURL->resize(Px(r->addressWidth), txtURL->height());
    left(cmdAddd, r->smallAddLeft);
    left(cmdHelp, r->helpLeft);
    left(cmdDelete, r->deleteLeft);
    left(cmdPrint, r->printLeft);
    left(Image2, r->legendTrustedLeft);
    left(Label1, r->legendTrustedTextLeft);
    for (QWidget* picture : {Image3, Image4, Image5}) left(picture, r->legendLeft);
    for (QWidget* text : {Label3, Label4, Label5}) left(text, r->legendTextLeft);
    LVw->setColumnWidth(2, std::max(0, Px(r->lastColumnWidth)));
}

void FormX::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void FormX::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Form_Resize();
}

void FormX::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Restored from minimized: laid out again for the size it has now.
    if (event->type() == QEvent::WindowStateChange) Form_Resize();
}

}  // namespace moatgate

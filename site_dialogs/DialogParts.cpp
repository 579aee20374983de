#include "site_dialogs/DialogParts.h"

#include <QGridLayout>
#include <QIcon>
#include <QVBoxLayout>

#include "registry/SettingsKeys.h"

namespace moatgate {

void BuildBanner(QWidget* parent, QGroupBox*& frame, QWidget*& picture, QLabel*& image) {
    frame = new QGroupBox(parent);
    frame->setObjectName(QStringLiteral("Frame4"));
    picture = new QWidget(frame);
    picture->setObjectName(QStringLiteral("Picture1"));
    image = new QLabel(picture);
    image->setObjectName(QStringLiteral("Image10"));
    image->setAccessibleName(QStringLiteral("Moatgate"));
    image->setPixmap(QIcon(QStringLiteral(":/dialogs/banner.svg")).pixmap(QSize(277, 105)));
    auto* inPicture = new QVBoxLayout(picture);
    inPicture->setContentsMargins(0, 0, 0, 0);
    inPicture->addWidget(image);
    auto* inFrame = new QVBoxLayout(frame);
    inFrame->setContentsMargins(4, 4, 4, 4);
    inFrame->addWidget(picture);
}

void LayOutSiteDialog(QWidget* dialog, QLabel* subdomainCaption, QLabel* subdomain, QLabel* domainCaption,
                      QLabel* domain, std::initializer_list<QWidget*> body, QWidget* banner,
                      std::initializer_list<QPushButton*> buttons) {
    QFont names = domain->font();
    names.setBold(true);
    names.setPointSizeF(names.pointSizeF() * 1.15);
    for (QLabel* name : {subdomain, domain}) {
        name->setFont(names);
        name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* grid = new QGridLayout(dialog);
    grid->addWidget(subdomainCaption, 0, 0);
    grid->addWidget(subdomain, 0, 1);
    grid->addWidget(domainCaption, 1, 0);
    grid->addWidget(domain, 1, 1);
    int row = 2;
    for (QWidget* part : body) grid->addWidget(part, row++, 0, 1, 2);
    grid->addWidget(banner, row, 0, 1, 2, Qt::AlignLeft | Qt::AlignBottom);
    auto* column = new QVBoxLayout;
    for (QPushButton* button : buttons) {
        button->setAccessibleName(button->text());
        button->setAutoDefault(false);
        column->addWidget(button);
    }
    column->addStretch();
    grid->addLayout(column, 0, 2, row + 1, 1);
    grid->setColumnStretch(1, 1);
}

ZoneNumber ChosenZone(const QRadioButton* trusted, const QRadioButton* unclassified, const QRadioButton* restricted) {
    if (trusted->isChecked()) return kZoneTrusted;
    if (unclassified->isChecked()) return kZoneInternet;
    if (restricted->isChecked()) return kZoneRestricted;
    return kZoneInternet;
}

std::string SiteKey(const QString& domain, const QString& subdomain) {
    std::string key(kZoneMapKey);
    key += '\\';
    key += domain.toStdString();
    if (!subdomain.isEmpty()) {
        key += '\\';
        key += subdomain.toStdString();
    }
    return key;
}

}  // namespace moatgate

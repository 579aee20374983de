#include "site_dialogs/DialogParts.h"

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

ZoneNumber ChosenZone(const QRadioButton* trusted, const QRadioButton* unclassified, const QRadioButton* restricted) {
    if (trusted->isChecked()) return kZoneTrusted;
    if (unclassified->isChecked()) return kZoneInternet;
    if (restricted->isChecked()) return kZoneRestricted;
    return kZoneInternet;
}

std::string SiteKey(const QString& domain, const QString& subdomain) {
    std::string key = std::string(kZoneMapKey) + "\\" + domain.toStdString();
    if (!subdomain.isEmpty()) key += "\\" + subdomain.toStdString();
    return key;
}

}  // namespace moatgate

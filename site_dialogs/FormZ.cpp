#include "site_dialogs/FormZ.h"

#include <QCloseEvent>
#include <QHBoxLayout>

#include "platform/MessageBoxes.h"
#include "registry/Registry.h"
#include "resources/ImageList.h"
#include "site_dialogs/DialogParts.h"
#include "site_dialogs/FormY.h"
#include "site_dialogs/MainWindow.h"
#include "site_dialogs/SiteDialogs.h"
#include "site_dialogs/core/AddressParsing.h"

namespace moatgate {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

template <typename W>
W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

FormZ::FormZ(MainWindow& main, RegistryApi& reg, MessageBoxes& boxes, SiteDialogs& dialogs)
    : QWidget(nullptr, Qt::Window), main_(main), reg_(reg), boxes_(boxes), dialogs_(dialogs) {
    setObjectName(QStringLiteral("FormZ"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Verify Generalised Domain Listing"));
    setWindowIcon(QIcon(QStringLiteral(":/desktop/io.github.moatgate.Moatgate.svg")));

    Label1 = Named(new QLabel(QStringLiteral("Listing the SubDomain:"), this), "Label1");
    lblSubDomain = Named(new TagLabel(this), "lblSubDomain");
    Label2 = Named(new QLabel(QStringLiteral("At the Domain:"), this), "Label2");
    lblDomain = Named(new QLabel(QStringLiteral(" "), this), "lblDomain");
    Frame3 = Named(new QGroupBox(QStringLiteral("Global Status"), this), "Frame3");
    auto* choices = new QHBoxLayout(Frame3);
    auto choice = [&](PictureLabel*& image, const char* imageName, QRadioButton*& option, const char* optionName,
                      const char* caption) {
        image = Named(new PictureLabel(Frame3), imageName);
        option = Named(new QRadioButton(QString::fromLatin1(caption), Frame3), optionName);
        option->setAccessibleName(option->text());
        image->setAccessibleName(option->text());
        image->setFixedSize(32, 32);
        image->setScaledContents(true);
        image->setEnabled(false);
        option->setEnabled(false);
        choices->addWidget(image);
        choices->addWidget(option);
        choices->addSpacing(12);
    };
    choice(Image7, "Image7", Option7, "Option7", "Trusted");
    choice(Image8, "Image8", Option8, "Option8", "Unclassified");
    choice(Image9, "Image9", Option9, "Option9", "Restricted");
    choices->addStretch();

    Command2 = Named(new QPushButton(QStringLiteral("Cancel"), this), "Command2");
    Command3 = Named(new QPushButton(QStringLiteral("Advanced"), this), "Command3");
    Command1 = Named(new QPushButton(QStringLiteral("OK"), this), "Command1");
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    BuildBanner(this, Frame4, Picture1, Image10);

    LayOutSiteDialog(this, Label1, lblSubDomain, Label2, lblDomain, {Frame3}, Frame4, {Command2, Command3, Command1});
}

void FormZ::Form_Load() { CheckAndSplitAddress(); }

void FormZ::CheckAndSplitAddress() {
    const QString typed = main_.AddressText();
    const AddressCheck check = ::moatgate::CheckAndSplitAddress(typed.toStdString());
    switch (check.verdict) {
        case AddressVerdict::TooShort:
            main_.SetTag(Q(kRejectionMarker));
            return;
        case AddressVerdict::IpAddress:
            boxes_.Tell(Q(FraudAlertText(check.matchedIp, typed.toStdString())), Q(kFraudAlertTitle),
                        MessageBoxes::Icon::Critical);
            main_.SetTag(Q(kRejectionMarker));
            return;
        case AddressVerdict::Corrupted:
        case AddressVerdict::Accepted:
            break;
    }
    main_.SetAddressText(Q(check.addressBox));
    SetUpChoices();
    if (check.verdict == AddressVerdict::Corrupted) {
        boxes_.Tell(Q(kCorruptedUrlText), Q(kCorruptedUrlTitle), MessageBoxes::Icon::Exclamation);
        main_.SetTag(Q(kRejectionMarker));
        return;
    }
    lblSubDomain->setText(Q(check.generalised));
    lblSubDomain->Tag = Q(check.exact);
    lblDomain->setText(Q(check.domain));
}

void FormZ::SetUpChoices() {
    const ImageList& pictures = main_.ImageList11();
    const QSize size = Image7->size();
    Image7->setPixmap(pictures.Picture(kZoneTrusted).pixmap(size));
    Image8->setPixmap(pictures.Picture(kZoneInternet).pixmap(size));
    Image9->setPixmap(pictures.Picture(kZoneRestricted).pixmap(size));
    for (QWidget* w : std::initializer_list<QWidget*>{Option7, Image7, Option8, Image8, Option9, Image9})
        w->setEnabled(true);
}

void FormZ::Command1_Click() {
    // A three-label host is listed on its domain key, a longer one on the key of
    // its generalised subdomain.
    const QString sub = lblSubDomain->text();
    const std::string key = SiteKey(lblDomain->text(), sub == QStringLiteral("*") ? QString() : sub);
    {
        StoreScope change(reg_, true);  // the key and its value: one change
        CreateSiteKey(reg_, key);
        WriteRegistryValue(reg_, HKEY_CURRENT_USER, key + "\\", kAllProtocolsValue,
                           static_cast<std::int64_t>(ChosenZone(Option7, Option8, Option9)), REG_DWORD);
    }
    main_.ReportRefusedWrites();
    main_.Refresher();
    close();
}

void FormZ::Command2_Click() { close(); }

void FormZ::Command3_Click() {
    dialogs_.ShowPerProtocol(*this);
    close();
}

void FormZ::closeEvent(QCloseEvent* event) {
    dialogs_.Unloaded(this);
    QWidget::closeEvent(event);
}

}  // namespace moatgate

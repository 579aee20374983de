#include "site_dialogs/FormY.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "registry/Registry.h"
#include "registry/ZoneMap.h"
#include "resources/ImageList.h"
#include "site_dialogs/DialogParts.h"
#include "site_dialogs/FormZ.h"
#include "site_dialogs/MainWindow.h"
#include "site_dialogs/SiteDialogs.h"

namespace moatgate {

namespace {

template <typename W>
W* Named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// The pictures of a row that is on, and their switched-off forms.
constexpr int kOnPictures[3] = {2, 3, 4};
constexpr int kOffPictures[3] = {5, 6, 7};

}  // namespace

FormY::FormY(MainWindow& main, RegistryApi& reg, SiteDialogs& dialogs)
    : QWidget(nullptr, Qt::Window), main_(main), reg_(reg), dialogs_(dialogs) {
    setObjectName(QStringLiteral("FormY"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Verify subdomain and access type listing"));
    setWindowIcon(QIcon(QStringLiteral(":/desktop/io.github.moatgate.Moatgate.svg")));

    Label1 = Named(new QLabel(QStringLiteral("Listing the SubDomain:"), this), QStringLiteral("Label1"));
    lblSubDomain = Named(new QLabel(this), QStringLiteral("lblSubDomain"));
    Label2 = Named(new QLabel(QStringLiteral("At the Domain:"), this), QStringLiteral("Label2"));
    lblDomain = Named(new QLabel(QStringLiteral(" "), this), QStringLiteral("lblDomain"));
    Label4 = Named(new QLabel(QStringLiteral("Status by Protocol:"), this), QStringLiteral("Label4"));
    // Rows top to bottom: HTTPS, FTP, HTTP. The pictures' numbers follow the
    // controls they stand beside, as the window was first drawn.
    struct Design {
        const char* frame;
        const char* check;
        const char* caption;
        const char* valueName;
        int options[3];
        int images[3];
    };
    const Design design[3] = {{"Frame1", "Check1", "HTTPS", "https", {1, 2, 3}, {2, 3, 4}},
                              {"Frame2", "Check2", "FTP", "ftp", {4, 5, 6}, {1, 5, 6}},
                              {"Frame3", "Check3", "HTTP", "http", {7, 8, 9}, {7, 8, 9}}};
    QRadioButton** options[9] = {&Option1, &Option2, &Option3, &Option4, &Option5,
                                 &Option6, &Option7, &Option8, &Option9};
    PictureLabel** images[9] = {&Image1, &Image2, &Image3, &Image4, &Image5, &Image6, &Image7, &Image8, &Image9};
    QGroupBox** frames[3] = {&Frame1, &Frame2, &Frame3};
    QCheckBox** checks[3] = {&Check1, &Check2, &Check3};
    const char* zones[3] = {"Trusted", "Unclassified", "Restricted"};
    for (int r = 0; r < 3; ++r) {
        const Design& d = design[r];
        auto* frame = Named(new QGroupBox(this), QString::fromLatin1(d.frame));
        *frames[r] = frame;
        auto* check = Named(new QCheckBox(QString::fromLatin1(d.caption), frame), QString::fromLatin1(d.check));
        check->setAccessibleName(check->text());
        QFont bold = check->font();
        bold.setBold(true);
        check->setFont(bold);
        *checks[r] = check;
        Row& row = rows_[static_cast<std::size_t>(r)];
        row.check = check;
        row.valueName = d.valueName;
        row.group = new QButtonGroup(frame);
        auto* line = new QHBoxLayout;
        for (int i = 0; i < 3; ++i) {
            auto* image = Named(new PictureLabel(frame), QStringLiteral("Image%1").arg(d.images[i]));
            auto* option = Named(new QRadioButton(QString::fromLatin1(zones[i]), frame),
                                 QStringLiteral("Option%1").arg(d.options[i]));
            option->setAccessibleName(QStringLiteral("%1 %2").arg(check->text(), option->text()));
            image->setAccessibleName(option->accessibleName());
            image->setFixedSize(32, 32);
            image->setScaledContents(true);
            *images[d.images[i] - 1] = image;
            *options[d.options[i] - 1] = option;
            row.options[static_cast<std::size_t>(i)] = option;
            row.images[static_cast<std::size_t>(i)] = image;
            row.group->addButton(option);
            line->addWidget(image);
            line->addWidget(option);
            line->addSpacing(10);
        }
        line->addStretch();
        auto* inFrame = new QVBoxLayout(frame);
        inFrame->addWidget(check);
        inFrame->addLayout(line);
    }
    connect(Check1, &QCheckBox::clicked, this, [this] { Check1_Click(); });
    connect(Check2, &QCheckBox::clicked, this, [this] { Check2_Click(); });
    connect(Check3, &QCheckBox::clicked, this, [this] { Check3_Click(); });
    connect(Image1, &PictureLabel::clicked, this, [this] { Image1_Click(); });
    connect(Image2, &PictureLabel::clicked, this, [this] { Image2_Click(); });
    connect(Image3, &PictureLabel::clicked, this, [this] { Image3_Click(); });
    connect(Image4, &PictureLabel::clicked, this, [this] { Image4_Click(); });
    connect(Image5, &PictureLabel::clicked, this, [this] { Image5_Click(); });
    connect(Image6, &PictureLabel::clicked, this, [this] { Image6_Click(); });
    connect(Image7, &PictureLabel::clicked, this, [this] { Image7_Click(); });
    connect(Image8, &PictureLabel::clicked, this, [this] { Image8_Click(); });
    connect(Image9, &PictureLabel::clicked, this, [this] { Image9_Click(); });

    Command2 = Named(new QPushButton(QStringLiteral("Cancel"), this), QStringLiteral("Command2"));
    Command1 = Named(new QPushButton(QStringLiteral("OK"), this), QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    BuildBanner(this, Frame4, Picture1, Image10);

    LayOutSiteDialog(this, Label1, lblSubDomain, Label2, lblDomain, {Label4, Frame1, Frame2, Frame3}, Frame4,
                     {Command2, Command1});
    for (Row& row : rows_) ApplyRowState(row);
}

void FormY::Form_Load(const FormZ& from) {
    lblSubDomain->setText(from.lblSubDomain->Tag);
    lblDomain->setText(from.lblDomain->text());
    // The scheme the user typed says which protocol is meant.
    const QString address = main_.AddressText();
    auto starts = [&](const char* scheme) { return address.startsWith(QLatin1String(scheme), Qt::CaseInsensitive); };
    const bool ftp = starts("ftp://");
    const bool http = !ftp && starts("http://");
    const bool https = !ftp && !http && starts("https://");
    Check1->setChecked(https);
    Check2->setChecked(ftp);
    Check3->setChecked(http);
    for (int r = 1; r <= 3; ++r) ApplyRowState(RowOf(r));
}

void FormY::ApplyRowState(Row& row) {
    const ImageList& pictures = main_.ImageList11();
    const bool on = row.check->isChecked();
    for (std::size_t i = 0; i < 3; ++i) {
        PictureLabel* image = row.images[i];
        image->setPixmap(pictures.Picture(on ? kOnPictures[i] : kOffPictures[i]).pixmap(image->size()));
        row.options[i]->setEnabled(on);
        image->setEnabled(on);
    }
    if (on) return;
    // A row switched off forgets its choice.
    row.group->setExclusive(false);
    for (QRadioButton* option : row.options) option->setChecked(false);
    row.group->setExclusive(true);
}

void FormY::Check1_Click() { ApplyRowState(RowOf(1)); }
void FormY::Check2_Click() { ApplyRowState(RowOf(2)); }
void FormY::Check3_Click() { ApplyRowState(RowOf(3)); }

void FormY::Choose(PictureLabel* image, QRadioButton* option) {
    if (image->isEnabled()) option->setChecked(true);
}

void FormY::Image2_Click() { Choose(Image2, Option1); }
void FormY::Image3_Click() { Choose(Image3, Option2); }
void FormY::Image4_Click() { Choose(Image4, Option3); }
void FormY::Image1_Click() { Choose(Image1, Option4); }
void FormY::Image5_Click() { Choose(Image5, Option5); }
void FormY::Image6_Click() { Choose(Image6, Option6); }
void FormY::Image7_Click() { Choose(Image7, Option7); }
void FormY::Image8_Click() { Choose(Image8, Option8); }
void FormY::Image9_Click() { Choose(Image9, Option9); }

void FormY::Command1_Click() {
    if (!Check1->isChecked() && !Check2->isChecked() && !Check3->isChecked()) return;
    // The exact subdomain is always part of the key; for a site listed on its
    // domain key it is empty and the key is the domain's own.
    const std::string key = SiteKey(lblDomain->text(), lblSubDomain->text());
    {
        StoreScope change(reg_, true);  // the key and its values: one change
        CreateSiteKey(reg_, key);
        for (const Row& row : rows_) {
            if (!row.check->isChecked()) continue;
            const ZoneNumber zone = ChosenZone(row.options[0], row.options[1], row.options[2]);
            WriteRegistryValue(reg_, HKEY_CURRENT_USER, key, row.valueName, static_cast<std::int64_t>(zone),
                               REG_DWORD);
        }
    }
    main_.ReportRefusedWrites();
    close();
}

void FormY::Command2_Click() { close(); }

void FormY::closeEvent(QCloseEvent* event) {
    dialogs_.Unloaded(this);
    QWidget::closeEvent(event);
    // However it closes, the list shows what the store now holds.
    main_.Refresher();
}

}  // namespace moatgate

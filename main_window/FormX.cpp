#include "main_window/FormX.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

#include "main_window/SecurityTexts.h"
#include "main_window/SiteListModel.h"
#include "main_window/core/Twips.h"
#include "registry/ScriptPolicy.h"
#include "registry/SiteEdits.h"
#include "registry/ZoneMap.h"
#include "site_dialogs/core/AddressParsing.h"

namespace moatgate {

namespace {
// How often a long reload lets window events run.
constexpr int kEventIntervalMs = 15;
}  // namespace

FormX::FormX(RegistryApi& reg, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent), reg_(reg), boxes_(boxes), dialogs_(*this, reg, boxes) {
    setObjectName(QStringLiteral("FormX"));
    setWindowTitle(QStringLiteral("MOATGATE - Script Security and Trusted Sites Manager"));
    setWindowIcon(QIcon(QStringLiteral(":/desktop/io.github.moatgate.Moatgate.svg")));
    resize(Px(design::kClientWidth), Px(design::kClientHeight));

    model_ = new SiteListModel(list_, images_, this);
    LVw = new QTreeView(this);
    LVw->setObjectName(QStringLiteral("LVw"));
    LVw->setAccessibleName(QStringLiteral("Sites"));
    LVw->setModel(model_);
    LVw->setRootIsDecorated(false);
    LVw->setItemsExpandable(false);
    LVw->setUniformRowHeights(true);
    LVw->setAllColumnsShowFocus(true);
    LVw->setSelectionMode(QAbstractItemView::SingleSelection);
    LVw->setSelectionBehavior(QAbstractItemView::SelectRows);
    LVw->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LVw->setIconSize(QSize(Px(240), Px(240)));
    Place(LVw, design::kList);
    QHeaderView* header = LVw->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    for (int c = 0; c < kSiteColumnCount; ++c) LVw->setColumnWidth(c, Px(design::kColumnWidths[c]));
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) { LVw_ColumnClick(section + 1); });
    connect(LVw->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { TakeSelectionFromView(); });
    ShowSortState();

    BuildSwitch();

    txtURL = new QComboBox(this);
    txtURL->setObjectName(QStringLiteral("txtURL"));
    txtURL->setAccessibleName(QStringLiteral("Address"));
    txtURL->setEditable(true);
    txtURL->setInsertPolicy(QComboBox::NoInsert);
    Place(txtURL, design::kAddress);
    QFont boxFont(QStringLiteral("MS Sans Serif"));
    boxFont.setPointSizeF(9.75);
    txtURL->setFont(boxFont);
    txtURL->setToolTip(QStringLiteral(
        "Just click the \"Add\" Button to add the site in this box to the list, or type in another address..."));

    cmdTrust = BuildCommand(
        "cmdTrust", QStringLiteral("Trust"),
        QStringLiteral("Trust me only if I am a bank or escrow provider you would trust with your life savings. Sites "
                       "marked as trusted are allowed to run any script on your computer and are not constrained by "
                       "Moatgate Security settings."),
        design::kTrust, images_.Picture(kZoneTrusted));
    connect(cmdTrust, &QToolButton::clicked, this, [this] { cmdTrust_Click(); });
    cmdDeclassify = BuildCommand(
        "cmdDeclassify", QStringLiteral("Declassify"),
        QStringLiteral("This is for declssified sites, or those sites under consideration for Trusted or Restricted "
                       "Status. The Moatgate security settings you have chosen apply to these sites."),
        design::kDeclassify, images_.Picture(kZoneInternet));
    connect(cmdDeclassify, &QToolButton::clicked, this, [this] { cmdDeclassify_Click(); });
    cmdRestrict = BuildCommand(
        "cmdRestrict", QStringLiteral("Restrict"),
        QStringLiteral("This places the site on the restricted sites list, disabling all site access to standard "
                       "client side functions."),
        design::kRestrict, images_.Picture(kZoneRestricted));
    connect(cmdRestrict, &QToolButton::clicked, this, [this] { cmdRestrict_Click(); });
    cmdAdd = BuildCommand("cmdAdd", QStringLiteral("Add"),
                          QStringLiteral("This adds the site below to the list where you can assign scripting "
                                         "privileges."),
                          design::kAdd, QIcon(QStringLiteral(":/buttons/add.svg")));
    connect(cmdAdd, &QToolButton::clicked, this, [this] { cmdAdd_Click(); });
    cmdDelete = BuildCommand(
        "cmdDelete", QStringLiteral("Delete"),
        QStringLiteral("This deletes the site from this list AND therefore declassifies the deleted site, subjecting "
                       "it to the Moatgate security settings you have chosen."),
        design::kDelete, QIcon(QStringLiteral(":/buttons/delete.svg")));
    connect(cmdDelete, &QToolButton::clicked, this, [this] { cmdDelete_Click(); });

    cmdAddd = new QPushButton(QStringLiteral("Add"), this);
    cmdAddd->setObjectName(QStringLiteral("cmdAddd"));
    cmdAddd->setAccessibleName(cmdAddd->text());
    Place(cmdAddd, design::kSmallAdd);
    cmdAddd->setAutoDefault(false);
    QFont smallAdd(QStringLiteral("MS Sans Serif"));
    smallAdd.setPointSizeF(9.75);
    smallAdd.setBold(true);
    cmdAddd->setFont(smallAdd);
    connect(cmdAddd, &QPushButton::clicked, this, [this] { cmdAddd_Click(); });
    // Enter in the address box adds the site; every key still reaches the box.
    // The box hands keys to its line edit itself, past any filter there, and a
    // key sent to the line edit that it does not take comes back to the box.
    txtURL->installEventFilter(this);

    cmdHelp = new QToolButton(this);
    cmdHelp->setObjectName(QStringLiteral("cmdHelp"));
    cmdHelp->setText(QStringLiteral("Help"));
    cmdHelp->setAccessibleName(cmdHelp->text());
    cmdHelp->setToolTip(QStringLiteral("Need to know more? Just press this button!"));
    Place(cmdHelp, design::kHelp);
    cmdHelp->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    cmdHelp->setIconSize(QSize(Px(480), Px(480)));
    cmdHelp->setIcon(QIcon(QStringLiteral(":/buttons/help.svg")));
    cmdHelp->setFont(cmdSecure->font());
    connect(cmdHelp, &QToolButton::clicked, this, [this] { cmdHelp_Click(); });

    BuildPrintButton();

    BuildLegend();
}

bool FormX::Form_Load() {
    // The open browsers' addresses, local folders and files (whose addresses have
    // three slashes) left out. Nothing here may stop the load.
    if (env_.browsers) {
        try {
            for (const std::string& address : env_.browsers->Addresses()) {
                const QString text = QString::fromStdString(address);
                if (text.contains(QStringLiteral("///"), Qt::CaseInsensitive)) continue;
                txtURL->addItem(text);
                txtURL->setEditText(text);
            }
        } catch (...) {
        }
    }
    // The toolbar button, on every start: it follows the program if it moved. This
    // is no action of the user's, so a store that refuses it is not worth a word.
    if (!env_.program.folder.empty()) {
        RegisterToolbarButton(reg_, env_.program);
        reg_.TakeRefusedWrite();
    }
    // The panels sit one above the other in the design; only the visible one is seen.
    for (QWidget* panel : {pSecured, pUnsecure, pSemisecure}) panel->move(Px(80), Px(30));
    // At login the window is wanted only when protection is not in place.
    const bool startup = env_.arguments == QStringLiteral("Startup");
    const ProtectionState state = ScriptPolicyState(reg_);
    if (state == kSecured || state == kPrompting) {
        ShowSecurityState(state, false);
        if (startup) return false;
    } else {
        ShowSecurityState(kNotSecured, false);
        if (boxes_.AskYesNo(texts::kUnsecureQuestion, texts::kRaiseTitle)) cmdSecure_MouseUp(kLeftButton, 0, 0, 0);
    }
    Refresher();
    return true;
}

QString FormX::AddressText() const { return txtURL->currentText(); }

void FormX::SetAddressText(const QString& text) { txtURL->setEditText(text); }

void FormX::ReportRefusedWrites() {
    const std::string refused = reg_.TakeRefusedWrite();
    if (!refused.empty())
        boxes_.Tell(QString::fromStdString(refused), QStringLiteral("Moatgate"), MessageBoxes::Icon::Exclamation);
}

void FormX::cmdAdd_Click() {
    dialogs_.ShowWholeSite();
    if (tag_ == QString::fromLatin1(kRejectionMarker.data(), kRejectionMarker.size())) {
        tag_.clear();
        dialogs_.UnloadWholeSite();
    }
}

void FormX::cmdAddd_Click() { cmdAdd_Click(); }

QToolButton* FormX::BuildCommand(const char* name, const QString& caption, const QString& tip, const Box& box,
                                 const QIcon& picture) {
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(caption);
    button->setAccessibleName(caption);
    button->setToolTip(tip);
    Place(button, box);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(Px(480), Px(480)));
    button->setIcon(picture);
    button->setFont(cmdSecure->font());
    return button;
}

void FormX::WhenNotFilling(std::function<void()> command) {
    if (filling_)
        afterFill_.push_back(std::move(command));
    else
        command();
}

void FormX::SetZone(ZoneNumber zone) {
    WhenNotFilling([this, zone] {
        AssignZone(reg_, list_, zone);
        ReportRefusedWrites();
        Refresher();
    });
}

void FormX::cmdTrust_Click() { SetZone(kZoneTrusted); }
void FormX::cmdDeclassify_Click() { SetZone(kZoneInternet); }
void FormX::cmdRestrict_Click() { SetZone(kZoneRestricted); }

void FormX::cmdDelete_Click() {
    WhenNotFilling([this] {
        // Nothing selected, nothing deleted: not even the sweep runs.
        if (list_.Count() < 1 || !SelectedSiteKeyPath(list_)) return;
        DeleteSelectedValue(reg_, list_);
        Refresher();
        // The keys that list now shows without a value, as it was read.
        SweepEmptyKeys(reg_, list_);
        ReportRefusedWrites();
        Refresher();
    });
}

void FormX::txtURL_KeyPress(int KeyAscii) {
    if (KeyAscii == '\r') cmdAdd_Click();
}

void FormX::cmdHelp_Click() {
    const QString file = HelpFile(QString::fromStdString(env_.program.folder));
    if (env_.help && env_.help->Open(file)) return;
    boxes_.Tell(QStringLiteral("The help page could not be opened:\n%1\n\nNo viewer for it could be started, "
                               "or the file is missing.")
                    .arg(file),
                QStringLiteral("Moatgate Help"), MessageBoxes::Icon::Exclamation);
}

void FormX::BuildSwitch() {
    cmdSecure = new QToolButton(this);
    cmdSecure->setObjectName(QStringLiteral("cmdSecure"));
    Place(cmdSecure, design::kSecure);
    cmdSecure->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    cmdSecure->setIconSize(QSize(Px(480), Px(480)));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(8.25);
    font.setBold(true);
    cmdSecure->setFont(font);
    // No click handler: only a released mouse button acts, so the keyboard does nothing.
    cmdSecure->installEventFilter(this);

    pUnsecure = BuildPanel("pUnsecure", 30, QStringLiteral(":/panels/unsecure.svg"), ImageSecure, "ImageSecure",
                           texts::kUnsecurePictureTip);
    lblWarning = BuildPanelLabel(pUnsecure, "lblWarning", QStringLiteral("Warning!"), texts::kUnsecureLabelTip, 60,
                                 120, 975, 255);
    Label9 = BuildPanelLabel(pUnsecure, "Label9", QStringLiteral("Unsecured!"), texts::kUnsecureLabelTip, 360, 420,
                             1275, 255);
    pSemisecure = BuildPanel("pSemisecure", 825, QStringLiteral(":/panels/semisecure.svg"), Image6, "Image6",
                             texts::kSemisecureTip);
    Label2 = BuildPanelLabel(pSemisecure, "Label2", QStringLiteral("Caution"), texts::kSemisecureTip, 60, 120, 975,
                             255);
    Label6 = BuildPanelLabel(pSemisecure, "Label6", QStringLiteral("Semi-secured!"), texts::kSemisecureTip, 240, 420,
                             1455, 255);
    pSecured = BuildPanel("pSecured", 1620, QStringLiteral(":/panels/secure.svg"), Image7, "Image7",
                          texts::kSecuredTip);
    Label7 = BuildPanelLabel(pSecured, "Label7", QStringLiteral("Scripts/Plugins"), texts::kSecuredTip, 60, 180, 1575,
                             255);
    Label8 = BuildPanelLabel(pSecured, "Label8", QStringLiteral("Secured"), texts::kSecuredTip, 660, 420, 975, 255);

    OnClick(lblWarning, [this] { lblWarning_Click(); });
    OnClick(Label9, [this] { Label9_Click(); });
    OnClick(ImageSecure, [this] { ImageSecure_Click(); });
    OnClick(Label8, [this] { Label8_Click(); });
    OnClick(Label7, [this] { Label7_Click(); });
    OnClick(Image7, [this] { Image7_Click(); });
    OnClick(Label6, [this] { Label6_Click(); });
    OnClick(Label2, [this] { Label2_Click(); });
    OnClick(Image6, [this] { Image6_Click(); });
}

QWidget* FormX::BuildPanel(const char* name, int top, const QString& picture, QLabel*& image, const char* imageName,
                           const QString& imageTip) {
    auto* panel = new QWidget(this);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setGeometry(Px(80), Px(top), Px(1755), Px(795));
    image = new QLabel(panel);
    image->setObjectName(QString::fromLatin1(imageName));
    image->setGeometry(Px(-60), Px(-60), Px(1815), Px(855));
    image->setPixmap(QIcon(picture).pixmap(image->size()));
    image->setScaledContents(true);
    image->setToolTip(imageTip);
    image->setAccessibleName(QString::fromLatin1(name));
    return panel;
}

QLabel* FormX::BuildPanelLabel(QWidget* panel, const char* name, const QString& caption, const QString& tip,
                               int left, int top, int width, int height) {
    auto* label = new QLabel(caption, panel);
    label->setObjectName(QString::fromLatin1(name));
    label->setAccessibleName(caption);
    label->setToolTip(tip);
    label->setGeometry(Px(left), Px(top), Px(width), Px(height));
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

void FormX::OnClick(QWidget* control, std::function<void()> handler) {
    clicks_[control] = std::move(handler);
    control->installEventFilter(this);
}

bool FormX::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == txtURL) {
        const QString typed = static_cast<QKeyEvent*>(event)->text();
        if (typed.size() == 1) txtURL_KeyPress(typed.at(0).unicode());
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (watched == cmdSecure) {
            // Any button; the modifiers as the mask Shift 1, Ctrl 2, Alt 4.
            const Qt::KeyboardModifiers m = mouse->modifiers();
            const auto shift = static_cast<std::int16_t>(((m & Qt::ShiftModifier) ? kShiftKey : 0) |
                                                         ((m & Qt::ControlModifier) ? kCtrlKey : 0) |
                                                         ((m & Qt::AltModifier) ? kAltKey : 0));
            const MouseButton button = mouse->button() == Qt::LeftButton    ? kLeftButton
                                       : mouse->button() == Qt::RightButton ? kRightButton
                                                                            : kMiddleButton;
            const QPointF at = mouse->position();
            cmdSecure_MouseUp(static_cast<std::int16_t>(button), shift, static_cast<float>(at.x()),
                              static_cast<float>(at.y()));
            return false;
        }
        const auto it = clicks_.find(watched);
        if (it != clicks_.end() && mouse->button() == Qt::LeftButton &&
            static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint())) {
            const auto handler = it->second;  // the handler may rebuild what holds it
            handler();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FormX::cmdSecure_MouseUp(std::int16_t /*Button*/, std::int16_t Shift, float /*X*/, float /*Y*/) {
    // Exactly Ctrl and Alt: a hidden gesture, so that prompting is never chosen by chance.
    if (Shift == (kCtrlKey | kAltKey)) {
        WritePolicySet(reg_, PolicySet::Prompting);
    } else if (ScriptPolicyState(reg_) != kSecured) {
        WritePolicySet(reg_, PolicySet::Secured);
    } else if (boxes_.AskYesNo(texts::kConfirmDisable, texts::kConfirmDisableTitle)) {
        WritePolicySet(reg_, PolicySet::Default);
    }
    ReportRefusedWrites();
    // What the store now holds, not what was aimed at.
    ShowSecurityState(ScriptPolicyState(reg_), true);
}

void FormX::ShowSecurityState(int state, bool withPanelTip) {
    const bool secured = state == kSecured;
    cmdSecure->setToolTip(secured ? texts::kLowerTip : texts::kRaiseTip);
    cmdSecure->setIcon(images_.Picture(secured ? 9 : 10));
    cmdSecure->setText(secured ? QStringLiteral("De-Secure") : QStringLiteral("Secure"));
    cmdSecure->setAccessibleName(cmdSecure->text());
    pSecured->setVisible(secured);
    pUnsecure->setVisible(state != kSecured && state != kPrompting);
    pSemisecure->setVisible(state == kPrompting);
    if (!withPanelTip) return;
    // A panel keeps the tooltip it last received, shown or not.
    if (state == kSecured)
        pSecured->setToolTip(texts::kSecuredPanelTip);
    else if (state == kPrompting)
        pSemisecure->setToolTip(texts::kSemisecurePanelTip);
    else
        pUnsecure->setToolTip(texts::kUnsecurePanelTip);
}

void FormX::RaiseIfAgreed(const QString& question) {
    if (boxes_.AskYesNo(question, texts::kRaiseTitle)) cmdSecure_MouseUp(kLeftButton, 0, 0, 0);
}

void FormX::lblWarning_Click() { RaiseIfAgreed(texts::kUnsecureQuestion); }
void FormX::Label9_Click() { RaiseIfAgreed(texts::kUnsecureQuestion); }
void FormX::ImageSecure_Click() { RaiseIfAgreed(texts::kUnsecureQuestion); }
void FormX::Label6_Click() { RaiseIfAgreed(texts::kSemisecureQuestion); }
void FormX::Label2_Click() { RaiseIfAgreed(texts::kSemisecureQuestion); }
void FormX::Image6_Click() { RaiseIfAgreed(texts::kSemisecureQuestion); }
void FormX::Label8_Click() { boxes_.Tell(texts::kSecuredMessage, texts::kSecuredTitle, MessageBoxes::Icon::None); }
void FormX::Label7_Click() { Label8_Click(); }
void FormX::Image7_Click() { Label8_Click(); }
void FormX::Image3_Click() { Refresher(); }

FormX::~FormX() {
    // The view and its model read list_, which goes before the window's children do.
    delete LVw;
    delete model_;
}

int FormX::Px(int twips) const { return TwipsToPixels(twips, logicalDpiX()); }

void FormX::Refresher() {
    if (filling_) {
        refreshAgain_ = true;
        return;
    }
    filling_ = true;
    do {
        refreshAgain_ = false;
        const std::size_t previous = FirstSelectedRow(list_);
        SiteList fresh;
        fresh.SetSortOrder(list_.SortOrder());
        FillSiteList(reg_, HKEY_CURRENT_USER, ZoneMapFillPath(), fresh, [this] { LetEventsRun(); });
        // A column click while the list was read chose the order to keep.
        if (fresh.SortOrder() != list_.SortOrder()) fresh.SetSortOrder(list_.SortOrder());
        model_->BeginReset();
        list_ = std::move(fresh);
        list_.SelectOnly(previous <= list_.Count() ? previous : 0);
        model_->EndReset();
        ApplySelectionToView();
        ShowSortState();
        ++fills_;
    } while (refreshAgain_);
    filling_ = false;
    // Commands asked for meanwhile act on the list as it now is.
    for (auto pending = std::move(afterFill_); auto& command : pending) command();
    if (closeRequested_) close();
}

void FormX::LVw_BeforeLabelEdit(std::int16_t& Cancel) { Cancel = 1; }

void FormX::LVw_ColumnClick(int ColumnHeaderIndex) {
    const int position = ColumnHeaderIndex - 1;
    if (position < 0 || position >= kSiteColumnCount) return;
    const auto k = static_cast<SiteColumn>(position);
    model_->BeginReset();
    if (list_.SortKey() == k)
        list_.SetSortOrder(list_.SortOrder() == SortOrder::Ascending ? SortOrder::Descending : SortOrder::Ascending);
    list_.SetSortKey(k);
    model_->EndReset();
    ApplySelectionToView();
    ShowSortState();
}

void FormX::closeEvent(QCloseEvent* event) {
    // A reload that lets events run must finish before the window goes.
    if (filling_) {
        closeRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void FormX::LetEventsRun() {
    if (sinceEvents_.isValid() && sinceEvents_.elapsed() < kEventIntervalMs) return;
    QCoreApplication::processEvents();
    sinceEvents_.restart();
}

void FormX::ApplySelectionToView() {
    applyingSelection_ = true;
    QItemSelectionModel* selection = LVw->selectionModel();
    selection->clearSelection();
    const std::size_t first = FirstSelectedRow(list_);
    if (first <= list_.Count()) {
        const QModelIndex index = model_->index(static_cast<int>(first - 1), 0);
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        LVw->scrollTo(index);
    }
    applyingSelection_ = false;
}

void FormX::TakeSelectionFromView() {
    if (applyingSelection_) return;
    const QItemSelectionModel* selection = LVw->selectionModel();
    list_.SelectOnly(0);
    for (const QModelIndex& index : selection->selectedRows())
        list_.Item(static_cast<std::size_t>(index.row()) + 1).selected = true;
}

void FormX::ShowSortState() {
    LVw->header()->setSortIndicator(static_cast<int>(list_.SortKey()),
                                    list_.SortOrder() == SortOrder::Ascending ? Qt::AscendingOrder
                                                                              : Qt::DescendingOrder);
}

}  // namespace moatgate

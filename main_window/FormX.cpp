#include "FormX.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>

#include "SiteListModel.h"
#include "Twips.h"
#include "ZoneStore.h"

namespace moatgate {

namespace {
constexpr int kClientWidth = 11760;
constexpr int kClientHeight = 8055;
constexpr int kColumnWidths[3] = {1550, 2820, 4700};
// How often a long reload lets window events run.
constexpr int kEventIntervalMs = 15;
}  // namespace

FormX::FormX(RegistryApi& reg, QWidget* parent) : QWidget(parent), reg_(reg) {
    setObjectName(QStringLiteral("FormX"));
    setWindowTitle(QStringLiteral("MOATGATE - Script Security and Trusted Sites Manager"));
    setWindowIcon(images_.Picture(2));
    resize(Px(kClientWidth), Px(kClientHeight));

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
    LVw->setGeometry(Px(60), Px(1200), Px(11655), Px(4815));
    QHeaderView* header = LVw->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    for (int c = 0; c < 3; ++c) LVw->setColumnWidth(c, Px(kColumnWidths[c]));
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) { LVw_ColumnClick(section + 1); });
    connect(LVw->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { TakeSelectionFromView(); });
    ShowSortState();
}

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
        FillSiteList(reg_, HKEY_CURRENT_USER, kSiteListBasePath, fresh, [this] { LetEventsRun(); });
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
    if (closeRequested_) close();
}

void FormX::LVw_BeforeLabelEdit(std::int16_t& Cancel) { Cancel = 1; }

void FormX::LVw_ColumnClick(int ColumnHeaderIndex) {
    const int k = ColumnHeaderIndex - 1;
    if (k < 0 || k > 2) return;
    model_->BeginReset();
    if (list_.SortKey() == k) list_.SetSortOrder(list_.SortOrder() == 0 ? 1 : 0);
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
    LVw->header()->setSortIndicator(list_.SortKey(),
                                    list_.SortOrder() == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

}  // namespace moatgate

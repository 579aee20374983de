#include "main_window/SiteListModel.h"

#include <QPixmap>

namespace moatgate {

SiteListModel::SiteListModel(const SiteList& list, const ImageList& images, QObject* parent)
    : QAbstractTableModel(parent), list_(list), images_(images), rowFont_(QStringLiteral("Verdana"), 12) {
    QPixmap empty(32, 32);
    empty.fill(Qt::transparent);
    blank_ = QIcon(empty);
}

int SiteListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(list_.Count());
}

int SiteListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kSiteColumnCount; }

QVariant SiteListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const SiteRow& row = list_.Rows()[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(row.Column(static_cast<SiteColumn>(index.column())));
        case Qt::DecorationRole:
            if (index.column() == 0) {
                const QIcon icon = images_.Picture(row.icon);
                return icon.isNull() ? blank_ : icon;
            }
            return {};
        case Qt::FontRole:
            return rowFont_;
        default:
            return {};
    }
}

QVariant SiteListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case 0: return QStringLiteral("Protocol");
        case 1: return QStringLiteral("Subdomain");
        case 2: return QStringLiteral("Trusted Website Domains");
        default: return {};
    }
}

Qt::ItemFlags SiteListModel::flags(const QModelIndex& index) const {
    // Selectable, never editable in place.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace moatgate

// The site list as the list view sees it: three columns over the rows of a
// SiteList, which the window owns.
#pragma once

#include <QAbstractTableModel>
#include <QFont>

#include "registry/SiteList.h"
#include "resources/ImageList.h"

namespace moatgate {

class SiteListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    SiteListModel(const SiteList& list, const ImageList& images, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The list's rows are about to be replaced, or were.
    void BeginReset() { beginResetModel(); }
    void EndReset() { endResetModel(); }

private:
    const SiteList& list_;
    const ImageList& images_;
    QFont rowFont_;
    QIcon blank_;  // keeps the texts of rows without a picture in line
};

}  // namespace moatgate

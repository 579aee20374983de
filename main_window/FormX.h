// FormX: the main window. So far it holds the site list LVw.
#pragma once

#include <QElapsedTimer>
#include <QTreeView>
#include <QWidget>
#include <cstdint>

#include "ImageList.h"
#include "RegistryApi.h"
#include "SiteList.h"

namespace moatgate {

class SiteListModel;

class FormX : public QWidget {
    Q_OBJECT
public:
    explicit FormX(RegistryApi& reg, QWidget* parent = nullptr);
    ~FormX() override;

    // Reloads the site list from the registry and keeps the selection by position.
    // Asked for while a reload runs, it runs once more when that one ends.
    void Refresher();
    // The list's events.
    void LVw_BeforeLabelEdit(std::int16_t& Cancel);
    void LVw_ColumnClick(int ColumnHeaderIndex);  // 1-based

    const SiteList& Sites() const { return list_; }
    bool IsFilling() const { return filling_; }
    int FillCount() const { return fills_; }
    const ImageList& ImageList11() const { return images_; }

    QTreeView* LVw = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int Px(int twips) const;
    void LetEventsRun();
    void ApplySelectionToView();
    void TakeSelectionFromView();
    void ShowSortState();

    RegistryApi& reg_;
    ImageList images_;
    SiteList list_;
    SiteListModel* model_ = nullptr;
    bool filling_ = false;
    bool refreshAgain_ = false;
    bool closeRequested_ = false;
    bool applyingSelection_ = false;
    int fills_ = 0;
    QElapsedTimer sinceEvents_;
};

}  // namespace moatgate

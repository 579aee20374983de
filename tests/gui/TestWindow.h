// A main window on a memory store holding the given sites, and how a test reads
// and drives its list.
#pragma once

#include <QHeaderView>
#include <QtTest>
#include <tuple>

#include "main_window/FormX.h"
#include "registry/store/HiveRegistry.h"
#include "tests/gui/FakeMessageBoxes.h"
#include "tests/unit/TestSupport.h"

namespace moatgate::test {

// A memory store that counts the changes it stores: a memory store forgets that
// it changed as soon as each change is made.
struct CountingStore : MemoryStore {
    int changes = 0;
    LONG FinishWrite() override {
        changes += GetHive().Changed();
        return MemoryStore::FinishWrite();
    }
};

using Site = std::tuple<std::string, std::string, std::uint32_t>;  // site, protocol value, zone

struct Window {
    MemoryStore reg;
    FakeMessageBoxes boxes;
    std::unique_ptr<FormX> form;

    explicit Window(std::initializer_list<Site> sites = {}) {
        for (const auto& [site, name, zone] : sites) Zone(reg, site, name, zone);
        form = std::make_unique<FormX>(reg, boxes);
    }
    FormX* operator->() const { return form.get(); }
    void Show() {
        form->show();
        form->Refresher();
    }
};

inline QStringList Column(const FormX& form, int column) {
    QStringList out;
    const QAbstractItemModel* model = form.LVw->model();
    for (int r = 0; r < model->rowCount(); ++r) out << model->index(r, column).data().toString();
    return out;
}

inline void ClickHeader(FormX& form, int column) {
    QHeaderView* header = form.LVw->header();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

// Sorts by domain, clicking its header again unless `first` leads the list.
inline void SortByDomain(FormX& form, const QString& first) {
    ClickHeader(form, 2);
    if (Column(form, 2).first() != first) ClickHeader(form, 2);
}

}  // namespace moatgate::test

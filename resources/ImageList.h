// ImageList11: the main window's numbered pictures, shared by the site list (zone
// pictures), the site dialogs and the security switch.
#pragma once

#include <QIcon>
#include <QVector>

namespace moatgate {

class ImageList {
public:
    ImageList();
    // The picture with that number (counted from 1), or a null icon where the
    // list has none (0, 8, or any number past the last).
    QIcon Picture(int index) const;
    int Count() const { return static_cast<int>(pictures_.size()) - 1; }

private:
    QVector<QIcon> pictures_;  // [0] unused
};

}  // namespace moatgate

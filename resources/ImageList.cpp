#include "resources/ImageList.h"

#include <QFile>

// The pictures are compiled into this library; a static library's resources must
// be registered by hand, outside any namespace.
static void RegisterPictures() { Q_INIT_RESOURCE(resources); }

namespace moatgate {

ImageList::ImageList() {
    RegisterPictures();
    pictures_.resize(11);
    for (int i = 1; i <= 10; ++i) {
        const QString path = QStringLiteral(":/imagelist11/%1.svg").arg(i);
        if (QFile::exists(path)) pictures_[i] = QIcon(path);
    }
}

QIcon ImageList::Picture(int index) const {
    if (index <= 0 || index >= pictures_.size()) return {};
    return pictures_[index];
}

}  // namespace moatgate

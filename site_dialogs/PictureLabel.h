// A picture that answers a click, as the dialogs' zone pictures do. A disabled
// picture gets no mouse events, so it does not react.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace moatgate {

class PictureLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
        QLabel::mouseReleaseEvent(event);
    }
};

// A label that also carries a free text of its own, not shown.
class TagLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QString Tag;
};

}  // namespace moatgate

// Modal message boxes, behind an interface so that tests script the answers and
// read every text and title.
#pragma once

#include <QString>

class QWidget;

namespace moatgate {

class MessageBoxes {
public:
    enum class Icon { None, Critical, Exclamation, Information };
    virtual ~MessageBoxes() = default;
    // Yes and No, Yes the default, no icon. True only for Yes.
    virtual bool AskYesNo(const QString& prompt, const QString& title) = 0;
    // A single OK button.
    virtual void Tell(const QString& prompt, const QString& title, Icon icon) = 0;
};

// The desktop's own message boxes.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    bool AskYesNo(const QString& prompt, const QString& title) override;
    void Tell(const QString& prompt, const QString& title, Icon icon) override;

private:
    QWidget* parent_;
};

}  // namespace moatgate

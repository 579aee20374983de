#include "platform/MessageBoxes.h"

#include <QMessageBox>

namespace moatgate {

bool QtMessageBoxes::AskYesNo(const QString& prompt, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, prompt, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtMessageBoxes::Tell(const QString& prompt, const QString& title, Icon icon) {
    const QMessageBox::Icon shown = icon == Icon::Critical      ? QMessageBox::Critical
                                    : icon == Icon::Exclamation ? QMessageBox::Warning
                                    : icon == Icon::Information ? QMessageBox::Information
                                                                : QMessageBox::NoIcon;
    QMessageBox box(shown, title, prompt, QMessageBox::Ok, parent_);
    box.exec();
}

}  // namespace moatgate

// Message boxes that answer as scripted and remember what they were asked.
#pragma once

#include <QStringList>
#include <deque>

#include "platform/MessageBoxes.h"

namespace moatgate::test {

class FakeMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        QString prompt, title;
        bool question;
        Icon icon;
    };
    std::deque<bool> answers;  // for AskYesNo, in order; none left: No
    QList<Shown> shown;

    bool AskYesNo(const QString& prompt, const QString& title) override {
        shown.append({prompt, title, true, Icon::None});
        if (answers.empty()) return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void Tell(const QString& prompt, const QString& title, Icon icon) override {
        shown.append({prompt, title, false, icon});
    }
};

}  // namespace moatgate::test

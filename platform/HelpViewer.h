// Shows the help page in the desktop's viewer, without waiting for it.
#pragma once

#include <QString>

namespace moatgate {

class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // False when no viewer could be started for the file.
    virtual bool Open(const QString& file) = 0;
};

class DesktopHelpViewer : public HelpViewer {
public:
    bool Open(const QString& file) override;
};

// The help file in the program's folder: the compiled help on Windows, the help
// page elsewhere.
QString HelpFile(const QString& programFolder);

}  // namespace moatgate

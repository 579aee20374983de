// FormZ: the whole-site dialog. Its load checks and splits the address in the
// main window's address box; OK gives the site one zone for every protocol.
#pragma once

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include "site_dialogs/PictureLabel.h"

namespace moatgate {

class MainWindow;
class MessageBoxes;
class RegistryApi;
class SiteDialogs;

class FormZ : public QWidget {
    Q_OBJECT
public:
    FormZ(MainWindow& main, RegistryApi& reg, MessageBoxes& boxes, SiteDialogs& dialogs);

    // The load step: checks the address, and refuses it (telling the main window
    // through its Tag) or shows the site's names.
    void Form_Load();
    void CheckAndSplitAddress();
    void Command1_Click();  // OK
    void Command2_Click();  // Cancel
    void Command3_Click();  // Advanced

    QLabel* Label1 = nullptr;
    TagLabel* lblSubDomain = nullptr;  // caption: generalised subdomain; Tag: exact subdomain
    QLabel* Label2 = nullptr;
    QLabel* lblDomain = nullptr;
    QGroupBox* Frame3 = nullptr;
    PictureLabel* Image7 = nullptr;
    QRadioButton* Option7 = nullptr;
    PictureLabel* Image8 = nullptr;
    QRadioButton* Option8 = nullptr;
    PictureLabel* Image9 = nullptr;
    QRadioButton* Option9 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command1 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QWidget* Picture1 = nullptr;
    QLabel* Image10 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void SetUpChoices();

    MainWindow& main_;
    RegistryApi& reg_;
    MessageBoxes& boxes_;
    SiteDialogs& dialogs_;
};

}  // namespace moatgate

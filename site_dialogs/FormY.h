// FormY: the per-protocol dialog. It gives the exact subdomain of the site that
// the whole-site dialog split a zone each for HTTPS, FTP and HTTP.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <array>

#include "site_dialogs/PictureLabel.h"

namespace moatgate {

class FormZ;
class MainWindow;
class RegistryApi;
class SiteDialogs;

class FormY : public QWidget {
    Q_OBJECT
public:
    FormY(MainWindow& main, RegistryApi& reg, SiteDialogs& dialogs);

    // The load step: the names from the whole-site dialog, the rows preset from
    // the scheme of the main window's address.
    void Form_Load(const FormZ& from);
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Image1_Click();
    void Image2_Click();
    void Image3_Click();
    void Image4_Click();
    void Image5_Click();
    void Image6_Click();
    void Image7_Click();
    void Image8_Click();
    void Image9_Click();
    void Command1_Click();  // OK
    void Command2_Click();  // Cancel

    QLabel* Label1 = nullptr;
    QLabel* lblSubDomain = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lblDomain = nullptr;
    QLabel* Label4 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QCheckBox* Check1 = nullptr;  // HTTPS
    QCheckBox* Check2 = nullptr;  // FTP
    QCheckBox* Check3 = nullptr;  // HTTP
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    QRadioButton* Option5 = nullptr;
    QRadioButton* Option6 = nullptr;
    QRadioButton* Option7 = nullptr;
    QRadioButton* Option8 = nullptr;
    QRadioButton* Option9 = nullptr;
    PictureLabel* Image1 = nullptr;
    PictureLabel* Image2 = nullptr;
    PictureLabel* Image3 = nullptr;
    PictureLabel* Image4 = nullptr;
    PictureLabel* Image5 = nullptr;
    PictureLabel* Image6 = nullptr;
    PictureLabel* Image7 = nullptr;
    PictureLabel* Image8 = nullptr;
    PictureLabel* Image9 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QWidget* Picture1 = nullptr;
    QLabel* Image10 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // One protocol: its check box, and its Trusted, Unclassified and Restricted
    // choices with the picture beside each.
    struct Row {
        QCheckBox* check;
        std::array<QRadioButton*, 3> options;
        std::array<PictureLabel*, 3> images;
        QButtonGroup* group;
        const char* valueName;
    };
    Row& RowOf(int number) { return rows_[static_cast<std::size_t>(number - 1)]; }
    void ApplyRowState(Row& row);
    void Choose(PictureLabel* image, QRadioButton* option);

    MainWindow& main_;
    RegistryApi& reg_;
    SiteDialogs& dialogs_;
    std::array<Row, 3> rows_{};
};

}  // namespace moatgate

// FormX: the main window: the security switch and its status panels, the
// address box and the site list LVw.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <unordered_map>

#include "main_window/core/WindowLayout.h"
#include "platform/Browsers.h"
#include "platform/HelpViewer.h"
#include "platform/MessageBoxes.h"
#include "platform/ReportPrinter.h"
#include "registry/SiteList.h"
#include "registry/ZoneMap.h"
#include "registry/ToolbarButton.h"
#include "registry/store/RegistryApi.h"
#include "resources/ImageList.h"
#include "site_dialogs/MainWindow.h"
#include "site_dialogs/SiteDialogs.h"

class QTextDocument;

namespace moatgate {

class SiteListModel;

// The modifier keys of a mouse event, as its Shift argument holds them.
enum ShiftMask : std::int16_t { kShiftKey = 1, kCtrlKey = 2, kAltKey = 4 };
// The mouse buttons, as a mouse event's Button argument holds them.
enum MouseButton : std::int16_t { kLeftButton = 1, kRightButton = 2, kMiddleButton = 4 };

// What the window reaches outside the registry.
struct FormXEnvironment {
    OpenBrowsers* browsers = nullptr;  // none: no addresses to offer
    HelpViewer* help = nullptr;        // none: help cannot be shown
    ProgramLocation program;           // where the running program is
    QString arguments;                 // the command-line argument text
    ReportPrinter* printer = nullptr;  // none: the report cannot be printed
};

class FormX : public QWidget, public MainWindow {
    Q_OBJECT
public:
    FormX(RegistryApi& reg, MessageBoxes& boxes, QWidget* parent = nullptr);
    ~FormX() override;

    void SetEnvironment(FormXEnvironment environment) { env_ = std::move(environment); }
    // The load sequence, once, before the window is first shown. False when the
    // program is to end at once: start-up mode with protection in place.
    bool Form_Load();
    void cmdHelp_Click();

    // The security switch: a mouse button released over cmdSecure. Only Shift (1
    // Shift, 2 Ctrl, 4 Alt) counts; exactly Ctrl+Alt writes the prompting set.
    void cmdSecure_MouseUp(std::int16_t Button, std::int16_t Shift, float X, float Y);
    // Makes the switch and the status panels show a protection state.
    void ShowSecurityState(int state, bool withPanelTip);
    // Clicks on the status panels' labels and pictures, and on the legend's Image3.
    void lblWarning_Click();
    void Label9_Click();
    void ImageSecure_Click();
    void Label8_Click();
    void Label7_Click();
    void Image7_Click();
    void Label6_Click();
    void Label2_Click();
    void Image6_Click();
    void Image3_Click();

    // Adding a site: both Add buttons and Enter in the address box open the
    // whole-site dialog for the address; a refused address closes it again.
    void cmdAdd_Click();
    void cmdAddd_Click();
    void txtURL_KeyPress(int KeyAscii);
    SiteDialogs& Dialogs() { return dialogs_; }

    // The site commands: a zone for the selected row's value, or its deletion
    // with every key the list then shows empty. Asked for while the list is being
    // read, a command runs once the reading has ended.
    void cmdTrust_Click();
    void cmdDeclassify_Click();
    void cmdRestrict_Click();
    void cmdDelete_Click();

    // Reloads the site list from the registry and keeps the selection by position.
    // Asked for while a reload runs, it runs once more when that one ends.
    void Refresher() override;
    QString Tag() const override { return tag_; }
    void SetTag(const QString& tag) override { tag_ = tag; }
    QString AddressText() const override;
    void SetAddressText(const QString& text) override;
    void ReportRefusedWrites() override;
    // The list's events.
    void LVw_BeforeLabelEdit(std::int16_t& Cancel);
    void LVw_ColumnClick(int ColumnHeaderIndex);  // 1-based

    const SiteList& Sites() const { return list_; }
    bool IsFilling() const { return filling_; }
    int FillCount() const { return fills_; }
    const ImageList& ImageList11() const override { return images_; }

    QTreeView* LVw = nullptr;
    QComboBox* txtURL = nullptr;
    QToolButton* cmdTrust = nullptr;
    QToolButton* cmdDeclassify = nullptr;
    QToolButton* cmdRestrict = nullptr;
    QToolButton* cmdDelete = nullptr;
    QToolButton* cmdAdd = nullptr;
    QPushButton* cmdAddd = nullptr;
    QToolButton* cmdHelp = nullptr;
    QToolButton* cmdSecure = nullptr;
    QWidget* pSecured = nullptr;
    QWidget* pSemisecure = nullptr;
    QWidget* pUnsecure = nullptr;
    QLabel* lblWarning = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* ImageSecure = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Image7 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image6 = nullptr;
    QLabel* Image3 = nullptr;

    // The scripting privilege report: composed from the list as it is shown and
    // printed on the default printer. Not taken while a report is being made.
    void cmdPrint_Click();
    bool IsReporting() const { return reporting_; }
    QToolButton* cmdPrint = nullptr;
    QTextDocument* rT = nullptr;  // the report as last printed; never shown

    // The window's arrangement: set at the design size, and on every resize and
    // when first shown moved by the resize rules.
    void Form_Resize();
    QGroupBox* Frame1 = nullptr;  // holds Picture1, which holds the logo Image1
    QWidget* Picture1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;  // the legend: a picture and its text per row
    QLabel* Label1 = nullptr;
    QFrame* Line1 = nullptr;
    QLabel* Label3 = nullptr;
    QFrame* Line2 = nullptr;
    QLabel* Image4 = nullptr;
    QLabel* Label4 = nullptr;
    QFrame* Line3 = nullptr;
    QLabel* Image5 = nullptr;
    QLabel* Label5 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Px(int twips) const;
    void BuildSwitch();
    QWidget* BuildPanel(const char* name, int top, const QString& picture, QLabel*& image, const char* imageName,
                        const QString& imageTip);
    QLabel* BuildPanelLabel(QWidget* panel, const char* name, const QString& caption, const QString& tip, int left,
                            int top, int width, int height);
    void OnClick(QWidget* control, std::function<void()> handler);
    void RaiseIfAgreed(const QString& question);
    QToolButton* BuildCommand(const char* name, const QString& caption, const QString& tip, const Box& box,
                              const QIcon& picture);
    void SetZone(ZoneNumber zone);
    // Runs the command now, or once a reading of the list under way has ended.
    void WhenNotFilling(std::function<void()> command);
    void LetEventsRun();
    void ApplySelectionToView();
    void TakeSelectionFromView();
    void ShowSortState();

    RegistryApi& reg_;
    MessageBoxes& boxes_;
    FormXEnvironment env_;
    ImageList images_;
    QString tag_;
    SiteDialogs dialogs_;
    std::unordered_map<QObject*, std::function<void()>> clicks_;
    SiteList list_;
    SiteListModel* model_ = nullptr;
    bool filling_ = false;
    bool refreshAgain_ = false;
    std::vector<std::function<void()>> afterFill_;
    bool closeRequested_ = false;
    bool applyingSelection_ = false;
    int fills_ = 0;
    QElapsedTimer sinceEvents_;

    // The report.
    void BuildPrintButton();
    void BuildLegend();
    void Place(QWidget* widget, const Box& box);
    void Place(QFrame* line, const HLine& at);
    void OfferReportAsPdf(const QString& problem);
    bool reporting_ = false;
};

}  // namespace moatgate

// The main window's arrangement in twips: where every control stands at the
// design size, and how a resize moves the controls attached to the window's right
// and bottom edges. Pure arithmetic, so it is tested without a display.
#pragma once

#include <optional>

namespace moatgate {

struct Box {
    int left = 0, top = 0, width = 0, height = 0;
};
// A horizontal separator from (x1, y) to (x2, y).
struct HLine {
    int x1 = 0, x2 = 0, y = 0;
};

namespace design {
// The client area the window was drawn for, and what standard borders and a
// caption add to it to make the outer size the resize rules are written for.
inline constexpr int kClientWidth = 11760;
inline constexpr int kClientHeight = 8055;
inline constexpr int kFrameWidth = 120;
inline constexpr int kFrameHeight = 510;

inline constexpr Box kStatusPanel{80, 30, 1755, 795};  // all three, stacked
inline constexpr Box kSecure{1870, 0, 1035, 855};
inline constexpr Box kTrust{2880, 0, 975, 855};
inline constexpr Box kDeclassify{3840, 0, 975, 855};
inline constexpr Box kRestrict{4800, 0, 975, 855};
inline constexpr Box kAdd{5770, 0, 975, 855};
inline constexpr Box kPrint{8730, 0, 975, 855};
inline constexpr Box kDelete{9705, 0, 975, 855};
inline constexpr Box kHelp{10680, 0, 1035, 855};
inline constexpr Box kAddress{60, 840, 10575, 360};
inline constexpr Box kSmallAdd{10680, 880, 1035, 335};
inline constexpr Box kList{60, 1200, 11655, 4815};
inline constexpr Box kLogoFrame{60, 6240, 4455, 1695};
inline constexpr Box kLogoPicture{120, 240, 4215, 1335};  // in the frame
inline constexpr Box kLogo{0, 0, 4155, 1575};             // in the picture box
inline constexpr Box kReportBox{4800, 6120, 615, 555};
inline constexpr Box kLegendTrusted{7200, 6060, 465, 450};
inline constexpr Box kLegendTrustedText{7740, 6060, 3975, 435};
inline constexpr HLine kLine1{7260, 11700, 6480};
inline constexpr Box kLegendUnclassified{7260, 6540, 360, 345};
inline constexpr Box kLegendUnclassifiedText{7740, 6540, 3975, 495};
inline constexpr HLine kLine2{7260, 11700, 6960};
inline constexpr Box kLegendRestricted{7260, 7020, 420, 450};
inline constexpr Box kLegendRestrictedText{7740, 7020, 3975, 495};
inline constexpr HLine kLine3{7260, 11700, 7440};
inline constexpr Box kLegendDelete{7260, 7500, 420, 405};
inline constexpr Box kLegendDeleteText{7740, 7500, 3975, 495};
inline constexpr int kColumnWidths[3] = {1550, 2820, 4700};
}  // namespace design

enum class WindowState { Normal, Minimized, Maximized };

// What a resize sets; everything else keeps its place and size.
struct ResizeLayout {
    int logoFrameTop = 0;                                          // Frame1
    int legendTrustedTop = 0, legendTrustedTextTop = 0;            // Image2, Label1
    int legendUnclassifiedTop = 0, legendUnclassifiedTextTop = 0;  // Image3, Label3
    int legendRestrictedTop = 0, legendRestrictedTextTop = 0;      // Image4, Label4
    int legendDeleteTop = 0, legendDeleteTextTop = 0;              // Image5, Label5
    HLine line1, line2, line3;
    int listWidth = 0, listHeight = 0;  // LVw
    int addressWidth = 0;               // txtURL
    int smallAddLeft = 0, helpLeft = 0, deleteLeft = 0, printLeft = 0;
    int legendTrustedLeft = 0, legendTrustedTextLeft = 0;
    int legendLeft = 0, legendTextLeft = 0;  // the rows of Image3 to Image5 and their texts
    int lastColumnWidth = 0;                 // "Trusted Website Domains"
};

// The arrangement for the window's state and outer size in twips, given the
// widths the list's first two columns have now. None when nothing is to move:
// minimized, or a window 9910 wide or 5000 high or less keeps its last arrangement.
std::optional<ResizeLayout> Form_Resize(WindowState state, int W, int H, int column1Width, int column2Width);

}  // namespace moatgate

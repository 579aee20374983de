#include "main_window/core/WindowLayout.h"

namespace moatgate {

std::optional<ResizeLayout> Form_Resize(WindowState state, int W, int H, int column1Width, int column2Width) {
    if (state == WindowState::Minimized || H <= 5000 || W <= 9910) return std::nullopt;
    ResizeLayout r;
    // The block at the bottom, each row from the one above it.
    r.logoFrameTop = H - 2325;
    r.legendTrustedTop = H - 2445;
    r.legendTrustedTextTop = r.legendTrustedTop;
    r.line1.y = r.legendTrustedTop + 420;
    r.legendUnclassifiedTop = r.legendTrustedTop + 480;
    r.legendUnclassifiedTextTop = r.legendUnclassifiedTop;
    r.line2.y = r.legendUnclassifiedTop + 480;
    r.legendRestrictedTop = r.legendUnclassifiedTop + 480;
    r.legendRestrictedTextTop = r.legendRestrictedTop;
    r.line3.y = r.legendRestrictedTop + 480;
    r.legendDeleteTop = r.legendRestrictedTop + 480;
    r.legendDeleteTextTop = r.legendDeleteTop;
    // The list and the address box grow with the window.
    r.listWidth = W - 240;
    r.listHeight = H - 3750;
    r.addressWidth = W - 1260;
    // The buttons at the right edge, each from its neighbour.
    r.smallAddLeft = W - 1215;
    r.helpLeft = r.smallAddLeft;
    r.deleteLeft = r.helpLeft - 975;
    r.printLeft = r.deleteLeft - 975;
    // The legend at the right edge.
    r.legendTrustedLeft = W - 4660;
    r.legendTrustedTextLeft = W - 4120;
    r.legendLeft = W - 4600;
    r.legendTextLeft = W - 4120;
    for (HLine* line : {&r.line1, &r.line2, &r.line3}) {
        line->x1 = W - 4600;
        line->x2 = W - 160;
    }
    // The last column takes what the first two leave, less 333.
    r.lastColumnWidth = r.listWidth - column2Width - column1Width - 333;
    return r;
}

}  // namespace moatgate

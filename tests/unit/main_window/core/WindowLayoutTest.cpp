// The main window's resize rules, as arithmetic on twips.
#include <gtest/gtest.h>

#include "main_window/core/WindowLayout.h"

namespace moatgate {
namespace {

constexpr int kDesignW = 11880;  // the outer size of the window at its design size
constexpr int kDesignH = 8565;

ResizeLayout At(int W, int H, int c1 = 1550, int c2 = 2820) {
    const auto r = Form_Resize(WindowState::Normal, W, H, c1, c2);
    EXPECT_TRUE(r) << W << "x" << H;
    return r.value_or(ResizeLayout{});
}

TEST(WindowLayout, TheDesignSizeGivesTheDesignPlaces) {
    using L = ResizeLayout;
    const ResizeLayout r = At(kDesignW, kDesignH);
    const std::pair<int L::*, int> places[] = {
        {&L::listHeight, 4815},           {&L::logoFrameTop, 6240},          {&L::listWidth, 11640},
        {&L::addressWidth, 10620},        {&L::smallAddLeft, 10665},         {&L::helpLeft, 10665},
        {&L::deleteLeft, 9690},           {&L::printLeft, 8715},             {&L::legendTrustedTop, 6120},
        {&L::legendTrustedTextTop, 6120}, {&L::legendUnclassifiedTop, 6600}, {&L::legendRestrictedTop, 7080},
        {&L::legendDeleteTop, 7560},      {&L::legendTrustedLeft, 7220},     {&L::legendTrustedTextLeft, 7760},
        {&L::legendLeft, 7280},           {&L::legendTextLeft, 7760},        {&L::lastColumnWidth, 11640 - 2820 - 1550 - 333},
    };
    for (std::size_t i = 0; i < std::size(places); ++i) EXPECT_EQ(r.*places[i].first, places[i].second) << "place " << i;
}

TEST(WindowLayout, TheSeparatorsLieAgainstThePictures) {
    for (const int H : {5001, kDesignH, 12000}) {
        const ResizeLayout r = At(12000, H);
        EXPECT_EQ(r.line1.y, r.legendUnclassifiedTop - 60);
        EXPECT_EQ(r.line2.y, r.legendRestrictedTop);
        EXPECT_EQ(r.line3.y, r.legendDeleteTop);
        EXPECT_EQ(r.legendDeleteTextTop, r.legendDeleteTop);
        EXPECT_EQ(r.legendRestrictedTextTop, r.legendRestrictedTop);
        EXPECT_EQ(r.legendUnclassifiedTextTop, r.legendUnclassifiedTop);
        for (const HLine& line : {r.line1, r.line2, r.line3}) {
            EXPECT_EQ(line.x1, 12000 - 4600);
            EXPECT_EQ(line.x2, 12000 - 160);
        }
    }
}

TEST(WindowLayout, WideningMovesTheRightAnchoredControlsByTheSameAmount) {
    const ResizeLayout a = At(kDesignW, kDesignH);
    for (const int d : {1, 500, 3000}) {
        const ResizeLayout b = At(kDesignW + d, kDesignH);
        for (const auto member : {&ResizeLayout::smallAddLeft, &ResizeLayout::helpLeft, &ResizeLayout::deleteLeft,
                                  &ResizeLayout::printLeft, &ResizeLayout::legendTrustedLeft,
                                  &ResizeLayout::legendTrustedTextLeft, &ResizeLayout::legendLeft,
                                  &ResizeLayout::legendTextLeft, &ResizeLayout::listWidth,
                                  &ResizeLayout::addressWidth, &ResizeLayout::lastColumnWidth})
            EXPECT_EQ(b.*member - a.*member, d);
        // Nothing that hangs from the bottom moves sideways, or the other way round.
        EXPECT_EQ(b.logoFrameTop, a.logoFrameTop);
        EXPECT_EQ(b.listHeight, a.listHeight);
        EXPECT_EQ(b.line2.y, a.line2.y);
    }
    const ResizeLayout taller = At(kDesignW, kDesignH + 700);
    EXPECT_EQ(taller.listHeight - a.listHeight, 700);
    EXPECT_EQ(taller.legendDeleteTop - a.legendDeleteTop, 700);
    EXPECT_EQ(taller.listWidth, a.listWidth);
    // The last column follows the others' widths.
    EXPECT_EQ(At(kDesignW, kDesignH, 2000, 3000).lastColumnWidth, 11640 - 3000 - 2000 - 333);
}

TEST(WindowLayout, SmallOrMinimizedWindowsKeepTheirArrangement) {
    EXPECT_FALSE(Form_Resize(WindowState::Normal, 9910, kDesignH, 1550, 2820));
    EXPECT_TRUE(Form_Resize(WindowState::Normal, 9911, kDesignH, 1550, 2820));
    EXPECT_FALSE(Form_Resize(WindowState::Normal, kDesignW, 5000, 1550, 2820));
    EXPECT_TRUE(Form_Resize(WindowState::Normal, kDesignW, 5001, 1550, 2820));
    EXPECT_FALSE(Form_Resize(WindowState::Minimized, kDesignW, kDesignH, 1550, 2820));
    EXPECT_TRUE(Form_Resize(WindowState::Maximized, kDesignW, kDesignH, 1550, 2820));
}

}  // namespace
}  // namespace moatgate

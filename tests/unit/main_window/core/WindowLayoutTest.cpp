// The main window's resize rules, as arithmetic on twips.
#include <gtest/gtest.h>

#include "main_window/core/WindowLayout.h"

namespace moatgate {
namespace {

constexpr int kDesignW = 11880;  // the outer size of the window at its design size
constexpr int kDesignH = 8565;

TEST(WindowLayout, TheDesignSizeGivesTheDesignPlaces) {
    using L = ResizeLayout;
    const auto r = Form_Resize(WindowState::Normal, kDesignW, kDesignH, 1550, 2820);
    ASSERT_TRUE(r);
    const std::pair<int L::*, int> places[] = {
        {&L::listHeight, 4815},           {&L::logoFrameTop, 6240},          {&L::listWidth, 11640},
        {&L::addressWidth, 10620},        {&L::smallAddLeft, 10665},         {&L::helpLeft, 10665},
        {&L::deleteLeft, 9690},           {&L::printLeft, 8715},             {&L::legendTrustedTop, 6120},
        {&L::legendTrustedTextTop, 6120}, {&L::legendUnclassifiedTop, 6600}, {&L::legendRestrictedTop, 7080},
        {&L::legendDeleteTop, 7560},      {&L::legendTrustedLeft, 7220},     {&L::legendTrustedTextLeft, 7760},
        {&L::legendLeft, 7280},           {&L::legendTextLeft, 7760},        {&L::lastColumnWidth, 11640 - 2820 - 1550 - 333},
    };
    for (std::size_t i = 0; i < std::size(places); ++i) EXPECT_EQ((*r).*places[i].first, places[i].second) << "place " << i;
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

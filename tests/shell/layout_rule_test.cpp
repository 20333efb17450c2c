#include <gtest/gtest.h>

#include "shell/layout_rule.h"

namespace tallowcrest {
namespace {

constexpr int kButtonWidth = 77;
constexpr int kButtonHeight = 23;

TEST(StretchForClientArea, OpeningClientAreaLeavesRoomForTheButtonGrid)
{
    const StretchedSizes sizes = StretchForClientArea(700, 309, kButtonWidth, kButtonHeight);
    EXPECT_EQ(sizes.mediaWidth, 546);
    EXPECT_EQ(sizes.listWidth, 700);
    EXPECT_EQ(sizes.listHeight, 263);
}

TEST(StretchForClientArea, MaximisedWindowStretchesStripAndList)
{
    const StretchedSizes sizes = StretchForClientArea(1920, 1000, kButtonWidth, kButtonHeight);
    EXPECT_EQ(sizes.mediaWidth, 1766);
    EXPECT_EQ(sizes.listWidth, 1920);
    EXPECT_EQ(sizes.listHeight, 954);
}

TEST(StretchForClientArea, ClientAreaSmallerThanTheButtonsClampsAtZero)
{
    const StretchedSizes tiny = StretchForClientArea(100, 30, kButtonWidth, kButtonHeight);
    EXPECT_EQ(tiny.mediaWidth, 0);
    EXPECT_EQ(tiny.listWidth, 100);
    EXPECT_EQ(tiny.listHeight, 0);

    const StretchedSizes exact = StretchForClientArea(154, 46, kButtonWidth, kButtonHeight);
    EXPECT_EQ(exact.mediaWidth, 0);
    EXPECT_EQ(exact.listHeight, 0);

    const StretchedSizes onePixelMore = StretchForClientArea(155, 47, kButtonWidth, kButtonHeight);
    EXPECT_EQ(onePixelMore.mediaWidth, 1);
    EXPECT_EQ(onePixelMore.listHeight, 1);

    const StretchedSizes collapsed = StretchForClientArea(0, 0, kButtonWidth, kButtonHeight);
    EXPECT_EQ(collapsed.mediaWidth, 0);
    EXPECT_EQ(collapsed.listWidth, 0);
    EXPECT_EQ(collapsed.listHeight, 0);
}

}  // namespace
}  // namespace tallowcrest

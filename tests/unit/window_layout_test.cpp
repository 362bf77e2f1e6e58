#include "app/window_layout.h"

#include <windows.h>

#include <gtest/gtest.h>

// At 96 DPI the design itself; at 125 % the halves that MulDiv rounds up.
TEST(WindowLayout, DesignAtEachScaling) {
    const struct {
        unsigned dpi;
        WindowLayout want;
    } rows[] = {
        // clang-format off
        {96,  {520, 300, 18, {20, 20, 480, 20}, {20, 50, 480, 80}, {20, 140, 480, 20},
               {20, 180, 160, 30}, {250, 180, 160, 30}}},
        {120, {650, 375, 23, {25, 25, 600, 25}, {25, 63, 600, 100}, {25, 175, 600, 25},
               {25, 225, 200, 38}, {313, 225, 200, 38}}},
        {0,   LayoutForDpi(96)},  // no DPI known: the design
        // clang-format on
    };
    for (const auto& row : rows) {
        EXPECT_TRUE(LayoutForDpi(row.dpi) == row.want) << row.dpi << " DPI";
    }
}

TEST(WindowLayout, ScalesAsWindowsMulDivRounds) {
    for (unsigned dpi : {72u, 96u, 108u, 120u, 144u, 168u, 192u, 240u, 288u}) {
        for (int value = -300; value <= 1100; ++value) {
            ASSERT_EQ(ScaleForDpi(value, dpi), MulDiv(value, static_cast<int>(dpi), 96))
                << value << " at " << dpi << " DPI";
        }
    }
}

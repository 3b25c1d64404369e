// Zoom steps and keeping a window inside the screen: the arithmetic of the window's placement
// and zoom keys.

#include "webview/pagezoom.h"
#include "webview/screenplacement.h"

#include <gtest/gtest.h>

namespace {

TEST(PageZoomTest, StepsLikeABrowser)
{
    struct Case {
        const char *name;
        qreal current;
        int direction;
        qreal expected;
    };
    const Case cases[] = {
        {"in from 100%", 1.0, 1, 1.1},
        {"out from 100%", 1.0, -1, 0.9},
        {"reset", 2.5, 0, 1.0},
        {"in from between two steps (the wheel's)", 1.17, 1, 1.25},
        {"out from between two steps", 1.17, -1, 1.1},
        {"in from just below a step passes it", 1.0999999, 1, 1.25},
        {"in at the largest stays", 5.0, 1, 5.0},
        {"out at the smallest stays", 0.25, -1, 0.25},
        {"out from beyond the largest", 7.0, -1, 5.0},
    };
    for (const Case &c : cases)
        EXPECT_DOUBLE_EQ(nextZoom(c.current, c.direction), c.expected) << c.name;
}

TEST(ScreenPlacementTest, MovesAWindowInsideTheRoomAsLittleAsItMust)
{
    const QRect room(0, 30, 1280, 994); // a panel of 30 pixels at the top
    struct Case {
        const char *name;
        QRect outer;
        QPoint expected;
    };
    const Case cases[] = {
        {"inside stays", QRect(100, 100, 800, 600), QPoint(100, 100)},
        {"under the panel comes down", QRect(100, 0, 800, 600), QPoint(100, 30)},
        {"off the right edge comes back", QRect(1000, 100, 800, 600), QPoint(480, 100)},
        {"off the bottom comes up", QRect(100, 900, 800, 600), QPoint(100, 424)},
        {"left and above comes to the corner", QRect(-50, -50, 800, 600), QPoint(0, 30)},
        {"too large keeps the room's corner", QRect(300, 300, 1400, 1100), QPoint(0, 30)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(topLeftInside(room, c.outer), c.expected) << c.name;
}

} // namespace

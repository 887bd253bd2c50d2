#include "platform/Input.h"

#include <gtest/gtest.h>

#include <vector>

using namespace caldera;

namespace {

// A cursor that the test moves; a warp moves it like the real one.
struct FakeCursor {
    CursorPoint position;
    std::vector<CursorPoint> warps;
    CursorAccess Access() {
        return {[this] { return position; },
                [this](CursorPoint p) {
                    warps.push_back(p);
                    position = p;
                }};
    }
};

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

}  // namespace

TEST(Drag, MovementAccumulatesInsideTheWindow) {
    FakeCursor cursor{{100, 200}, {}};
    CursorTracker tracker;
    InputState input;
    BeginDrag(tracker, input, cursor.Access());
    EXPECT_EQ(input.dragPosition[0], 100);
    EXPECT_EQ(input.dragPosition[1], 200);

    cursor.position = {110, 195};
    DragUpdate(tracker, input, cursor.Access(), kWidth, kHeight);
    EXPECT_EQ(input.dragPosition[0], 110);
    EXPECT_EQ(input.dragPosition[1], 195);
    EXPECT_EQ(input.dragDelta[0], 10);
    EXPECT_EQ(input.dragDelta[1], -5);
    EXPECT_TRUE(cursor.warps.empty());
}

TEST(Drag, WrapsAtEachEdgeWithoutAJump) {
    struct Case {
        CursorPoint start, past, warpedTo, next;
        float expectedAfterNext[2];
    };
    // Past the right, left, bottom and top edges: the cursor moves to the
    // opposite edge and the accumulated position keeps its course.
    const Case cases[] = {
        {{1270, 300}, {1290, 300}, {10, 300}, {15, 300}, {1295, 300}},
        {{5, 300}, {-10, 300}, {1270, 300}, {1265, 300}, {-15, 300}},
        {{400, 710}, {400, 730}, {400, 10}, {400, 12}, {400, 732}},
        {{400, 4}, {400, -6}, {400, 714}, {400, 713}, {400, -7}},
    };
    for (const Case& c : cases) {
        FakeCursor cursor{c.start, {}};
        CursorTracker tracker;
        InputState input;
        BeginDrag(tracker, input, cursor.Access());

        cursor.position = c.past;
        DragUpdate(tracker, input, cursor.Access(), kWidth, kHeight);
        ASSERT_EQ(cursor.warps.size(), 1u);
        EXPECT_EQ(cursor.warps[0].x, c.warpedTo.x);
        EXPECT_EQ(cursor.warps[0].y, c.warpedTo.y);
        // The wrap step itself leaves the published drag as it was.
        EXPECT_EQ(input.dragPosition[0], c.start.x);
        EXPECT_EQ(input.dragPosition[1], c.start.y);

        cursor.position = c.next;
        DragUpdate(tracker, input, cursor.Access(), kWidth, kHeight);
        EXPECT_EQ(input.dragPosition[0], c.expectedAfterNext[0]);
        EXPECT_EQ(input.dragPosition[1], c.expectedAfterNext[1]);
        EXPECT_EQ(input.dragDelta[0], c.next.x - c.warpedTo.x);
        EXPECT_EQ(input.dragDelta[1], c.next.y - c.warpedTo.y);
    }
}

TEST(Drag, ExactlyOnTheRightOrBottomEdgeDoesNotWrap) {
    FakeCursor cursor{{1270, 710}, {}};
    CursorTracker tracker;
    InputState input;
    BeginDrag(tracker, input, cursor.Access());
    cursor.position = {kWidth, kHeight};
    DragUpdate(tracker, input, cursor.Access(), kWidth, kHeight);
    EXPECT_TRUE(cursor.warps.empty());
    EXPECT_EQ(input.dragPosition[0], kWidth);
    EXPECT_EQ(input.dragPosition[1], kHeight);
}

#include "app/screens/common/TDKeyboardStep.h"

#include <gtest/gtest.h>

// Ten items, four to a row (the last row holds two), three rows in view.
TEST(TDKeyboardStep, MovesThroughAGridAndStaysAtItsEnds)
{
    struct Row {
        int key;
        int current;
        std::optional<int> next;
        Qt::LayoutDirection direction = Qt::LeftToRight;
    };
    const Row rows[] = {
        { Qt::Key_Right, 0, 1 },
        { Qt::Key_Right, 0, 0, Qt::RightToLeft },
        { Qt::Key_Left, 1, 2, Qt::RightToLeft },
        { Qt::Key_Right, 9, 9 },
        { Qt::Key_Up, 2, 2 },
        { Qt::Key_Up, 6, 2 },
        { Qt::Key_Down, 1, 5 },
        // From above the shorter last row, down goes to its last item; from within it, nowhere.
        { Qt::Key_Down, 7, 9 },
        { Qt::Key_Down, 8, 8 },
        { Qt::Key_PageDown, 1, 9 },
        { Qt::Key_PageUp, 9, 0 },
        { Qt::Key_Home, 6, 0 },
        { Qt::Key_End, 2, 9 },
        { Qt::Key_Return, 2, std::nullopt },
        // Nothing chosen yet.
        { Qt::Key_Up, -1, 9 },
        { Qt::Key_Right, -1, 0 },
    };
    for (const Row& row : rows)
        EXPECT_EQ(tdKeyboardStep(row.key, row.current, 10, 4, 3, row.direction), row.next)
            << row.key << " from " << row.current;
    EXPECT_EQ(tdKeyboardStep(Qt::Key_PageDown, 0, 40, 4, 3), 12);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_Down, 0, 0, 4, 3), std::nullopt);
}

// A list has no Left and Right, and its pages go the whole way.
TEST(TDKeyboardStep, MovesThroughAList)
{
    EXPECT_EQ(tdKeyboardStep(Qt::Key_Left, 2, 5), std::nullopt);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_Down, 2, 5), 3);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_Down, 4, 5), 4);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_Up, 0, 5), 0);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_PageDown, 1, 5), 4);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_PageUp, 3, 5), 0);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_Down, -1, 5), 0);
    EXPECT_EQ(tdKeyboardStep(Qt::Key_End, -1, 5), 4);
}

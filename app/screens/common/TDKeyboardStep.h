#pragma once

#include <Qt>

#include <optional>

// Where a list's or a grid's arrow, page and Home/End keys take its current item, of `count`
// items laid out `columns` to a row. Nothing for any other key (and for Left and Right in a list).
// With no current item (`current` < 0), Up, End and Page Down go to the last item and the others to
// the first. A step past either end stays where it was, except that Down from a row above a
// shorter last row goes to the last item; a page is `rowsInView` rows, or the whole way when 0.
std::optional<int> tdKeyboardStep(int key, int current, int count, int columns = 1, int rowsInView = 0,
    Qt::LayoutDirection direction = Qt::LeftToRight);

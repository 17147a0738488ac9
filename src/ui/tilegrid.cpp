#include "tilegrid.h"

#include <QtGlobal>

namespace {
// A tile's text scales with its height, and its word needs about twice the
// height in width: a tile wider or taller than these ratios wastes space.
constexpr double widestRatio = 2.6;
constexpr double tallestRatio = 1.0 / 1.15;
constexpr double wordWidthPerHeight = 2.0;

QSize clipped(int width, int height)
{
    width = qMin(width, qMin(int(height * widestRatio), TileGrid::maximumTile().width()));
    height = qMin(height, qMin(int(width * tallestRatio), TileGrid::maximumTile().height()));
    return QSize(width, height);
}

// How large the tile's text can be: its height, unless its width limits the word.
double legibility(const QSize &tile)
{
    return qMin(double(tile.height()), tile.width() / wordWidthPerHeight);
}
} // namespace

TileGrid TileGrid::fit(const QSize &viewport, int count)
{
    TileGrid grid;
    count = qMax(1, count);
    const int width = qMax(1, viewport.width());
    const int height = qMax(1, viewport.height());
    double best = -1;
    for (int columns = 1; columns <= count; ++columns) {
        const int rows = (count + columns - 1) / columns;
        const QSize tile = clipped(width / columns, height / rows);
        const bool legible =
            tile.width() >= minimumTile().width() && tile.height() >= minimumTile().height();
        if (legible && legibility(tile) > best) {
            best = legibility(tile);
            grid.mColumns = columns;
            grid.mTile = tile;
        }
    }
    if (best >= 0)
        return grid;
    // Too many for the window: the smallest legible tiles, as many to a row as
    // fit, and the view scrolls down.
    grid.mScrolls = true;
    grid.mColumns = qMax(1, width / minimumTile().width());
    grid.mTile = QSize(qMax(minimumTile().width(), width / grid.mColumns), minimumTile().height());
    return grid;
}

#pragma once

#include <QSize>

// How the bench's tiles share the tile view: the columns and the tile size
// that give every socket the largest legible tile. Tiles grow up to a maximum
// with few sockets; below the minimum they stop shrinking and the view scrolls.
class TileGrid
{
public:
    static QSize minimumTile() { return QSize(180, 100); }
    static QSize maximumTile() { return QSize(520, 330); }

    // The layout of count tiles in a viewport of this size.
    static TileGrid fit(const QSize &viewport, int count);

    int columns() const { return mColumns; }
    QSize tile() const { return mTile; }
    bool scrolls() const { return mScrolls; }

private:
    int mColumns = 1;
    QSize mTile = minimumTile();
    bool mScrolls = false;
};

#include "tileview.h"

#include "tiledelegate.h"
#include "tilegrid.h"

#include <QScrollBar>

TileView::TileView(QWidget *parent) : QListView(parent), mDelegate(new TileDelegate(this))
{
    setItemDelegate(mDelegate);
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSpacing(0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TileView::setModel(QAbstractItemModel *model)
{
    QListView::setModel(model);
    if (!model)
        return;
    connect(model, &QAbstractItemModel::rowsInserted, this, &TileView::fitTiles);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TileView::fitTiles);
    connect(model, &QAbstractItemModel::modelReset, this, &TileView::fitTiles);
    fitTiles();
}

QSize TileView::tileSize() const
{
    return mDelegate->tileSize();
}

void TileView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    fitTiles();
}

// Fits against the whole viewport: tiles that fit need no scroll bar, so it is
// switched off and its width is not left empty; only tiles at their minimum
// scroll, beside the bar.
void TileView::fitTiles()
{
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    // One pixel to spare: the list wraps a row whose last tile ends on the edge.
    const QSize area = contentsRect().size() - QSize(1, 1);
    TileGrid grid = TileGrid::fit(area, count);
    if (grid.scrolls())
        grid = TileGrid::fit(area - QSize(verticalScrollBar()->sizeHint().width(), 0), count);
    setVerticalScrollBarPolicy(grid.scrolls() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (grid.tile() == mDelegate->tileSize())
        return;
    mDelegate->setTileSize(grid.tile());
    setGridSize(grid.tile());
}

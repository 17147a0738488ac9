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

// Fits against the viewport without its scroll bar, so tiles that fit make
// the bar go away rather than leave its width empty.
void TileView::fitTiles()
{
    const int count = model() ? model()->rowCount(rootIndex()) : 0;
    QSize area = viewport()->size();
    if (verticalScrollBar()->isVisible())
        area.rwidth() += verticalScrollBar()->width();
    TileGrid grid = TileGrid::fit(area, count);
    if (grid.scrolls())
        grid = TileGrid::fit(area - QSize(verticalScrollBar()->sizeHint().width(), 0), count);
    if (grid.tile() == mDelegate->tileSize())
        return;
    mDelegate->setTileSize(grid.tile());
    setGridSize(grid.tile());
}

#pragma once

#include <QListView>

class TileDelegate;

// The bench's sockets as tiles that fill the view: the tile size follows the
// viewport and the number of sockets, recomputed on a resize and whenever
// sockets come or go.
class TileView : public QListView
{
    Q_OBJECT

public:
    explicit TileView(QWidget *parent = nullptr);

    void setModel(QAbstractItemModel *model) override;
    QSize tileSize() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitTiles();

    TileDelegate *mDelegate;
};

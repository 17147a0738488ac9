#pragma once

#include <QSize>
#include <QStyledItemDelegate>

class QPainterPath;

// Draws one bench socket as a tile readable from across the bench: the socket
// number, the port and the IMEI, the verdict as one large word beside a shape
// of its own, a progress bar while a job runs, and the reason below. Every
// text size follows the tile's height.
class TileDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize tileSize() const { return mTileSize; }
    void setTileSize(const QSize &size) { mTileSize = size; }

    // The background of a SocketModel::Verdict and the text that reads on it.
    // The verdicts come in three lightness levels by what the operator does:
    // light take the modem, middle check the hardware, dark reject the modem.
    static QColor background(int verdict);
    static QColor foreground(int verdict);
    // The verdict's large word.
    static QString word(int verdict);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    static void drawProgress(QPainter *painter, const QRectF &area, int percent, int verdict);
    static void drawShape(QPainter *painter, const QRectF &box, int verdict);

    QSize mTileSize = QSize(340, 220);
};

#pragma once

#include <QStyledItemDelegate>

// Draws one bench socket as a large tile readable from across the bench: the
// socket number big, the port and adapter, the IMEI, the state in words on
// the state's colour, a progress bar while a job runs, and a detail line.
class TileDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QSize tileSize() { return QSize(340, 220); }
    // The background of a tone of SocketModel, and the text that reads on it.
    static QColor background(int tone);
    static QColor foreground(int tone);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    static void drawProgress(QPainter *painter, const QRect &area, int percent, int tone);
};

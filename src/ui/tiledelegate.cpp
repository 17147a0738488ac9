#include "tiledelegate.h"

#include "line/socketmodel.h"

#include <QPainter>

namespace {
constexpr int margin = 6;
constexpr int padding = 12;

QFont sized(QFont font, int pointSize, bool bold)
{
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}
} // namespace

QColor TileDelegate::background(int tone)
{
    switch (tone) {
    case SocketModel::Busy:
        return QColor(0xf6, 0xc9, 0x0e);
    case SocketModel::Good:
        return QColor(0x1e, 0x8e, 0x3e);
    case SocketModel::Bad:
        return QColor(0xc6, 0x28, 0x28);
    }
    return QColor(0xcf, 0xd2, 0xd6);
}

// Dark text on grey and yellow, white on green and red: the contrast that
// still reads at a distance.
QColor TileDelegate::foreground(int tone)
{
    return tone == SocketModel::Good || tone == SocketModel::Bad ? Qt::white
                                                                 : QColor(0x1a, 0x1a, 0x1a);
}

QSize TileDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return tileSize();
}

void TileDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    const int tone = index.data(SocketModel::ToneRole).toInt();
    const QRect tile = option.rect.adjusted(margin, margin, -margin, -margin);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(option.state & QStyle::State_Selected ? QPen(QColor(0x15, 0x65, 0xc0), 4)
                                                          : QPen(background(tone).darker(130), 1));
    painter->setBrush(background(tone));
    painter->drawRoundedRect(tile, 8, 8);
    painter->setPen(foreground(tone));

    const QRect inner = tile.adjusted(padding, padding / 2, -padding, -padding);
    const QFont base = option.font;
    painter->setFont(sized(base, 40, true));
    const QRect numberRect(inner.left(), inner.top(), 90, 64);
    painter->drawText(numberRect, Qt::AlignLeft | Qt::AlignVCenter,
                      index.data(SocketModel::NumberRole).toString());

    const QRect head(numberRect.right() + 4, inner.top() + 6,
                     inner.right() - numberRect.right() - 4, 58);
    painter->setFont(sized(base, 11, false));
    const QFontMetrics small(painter->font());
    painter->drawText(head.adjusted(0, 0, 0, -head.height() / 2), Qt::AlignLeft | Qt::AlignVCenter,
                      small.elidedText(index.data(SocketModel::PortRole).toString(), Qt::ElideRight,
                                       head.width()));
    const QString imei = index.data(SocketModel::ImeiRole).toString();
    painter->setFont(sized(base, 11, true));
    painter->drawText(head.adjusted(0, head.height() / 2, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                      imei.isEmpty() ? QString() : QStringLiteral("IMEI ") + imei);

    // The state in words as large as it fits in two lines: a long error
    // reason is shrunk rather than cut.
    const QRect stateRect(inner.left(), numberRect.bottom() + 2, inner.width(), 56);
    const QString state = index.data(SocketModel::StateTextRole).toString();
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
    int points = 16;
    painter->setFont(sized(base, points, true));
    while (points > 8 &&
           QFontMetrics(painter->font()).boundingRect(stateRect, flags, state).height() >
               stateRect.height())
        painter->setFont(sized(base, --points, true));
    painter->drawText(stateRect, flags, state);

    int y = stateRect.bottom() + 4;
    const int percent = index.data(SocketModel::ProgressRole).toInt();
    if (percent >= 0) {
        drawProgress(painter, QRect(inner.left(), y, inner.width(), 14), percent, tone);
        y += 18;
    }
    painter->setFont(sized(base, 10, false));
    const QString warning = index.data(SocketModel::WarningRole).toString();
    const QString detail = index.data(SocketModel::DetailRole).toString();
    const QString lines =
        warning.isEmpty() ? detail : QStringLiteral("⚠ ") + warning + '\n' + detail;
    painter->drawText(QRect(inner.left(), y, inner.width(), inner.bottom() - y),
                      Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, lines);
    painter->restore();
}

void TileDelegate::drawProgress(QPainter *painter, const QRect &area, int percent, int tone)
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(background(tone).darker(140));
    painter->drawRoundedRect(area, 4, 4);
    QRect done = area;
    done.setWidth(area.width() * qBound(0, percent, 100) / 100);
    painter->setBrush(QColor(0x1a, 0x1a, 0x1a));
    painter->drawRoundedRect(done, 4, 4);
    painter->setPen(foreground(tone));
}

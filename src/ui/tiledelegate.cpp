#include "tiledelegate.h"

#include "line/socketmodel.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {
// Fractions of the tile's height: the gap around a tile, the number, the
// port line, the large word and its shape, the reason below.
constexpr double marginShare = 0.025;
constexpr double numberShare = 0.2;
constexpr double smallShare = 0.085;
constexpr double wordShare = 0.2;
constexpr double shapeShare = 0.3;
constexpr double reasonShare = 0.11;
constexpr double barShare = 0.07;
// The reason never drops below this: it must read when the screen is far.
constexpr int reasonLeastPixels = 14;

QFont sized(QFont font, double pixels, bool bold)
{
    font.setPixelSize(qMax(1, int(pixels)));
    font.setBold(bold);
    return font;
}

// The largest bold font from pixels down to half of it that fits text in width.
QFont fitted(const QFont &base, double pixels, const QString &text, double width)
{
    QFont font = sized(base, pixels, true);
    while (font.pixelSize() > pixels / 2 && QFontMetricsF(font).horizontalAdvance(text) > width)
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}
} // namespace

QColor TileDelegate::background(int verdict)
{
    switch (verdict) {
    case SocketModel::Working:
        return QColor(0xfb, 0xe9, 0xa0);
    case SocketModel::Done:
        return QColor(0xd4, 0xfa, 0xd8);
    case SocketModel::AlreadyFlashed:
        return QColor(0xe0, 0xef, 0xff);
    case SocketModel::Unplugged:
        return QColor(0xc4, 0x6a, 0x1a);
    case SocketModel::NoPort:
        return QColor(0xa0, 0x70, 0xc8);
    case SocketModel::OutOfService:
        return QColor(0x83, 0x83, 0x83);
    case SocketModel::NoTableRow:
        return QColor(0xa2, 0x7a, 0x30);
    case SocketModel::Interrupted:
        return QColor(0x4f, 0x8f, 0x9a);
    case SocketModel::Rejected:
        return QColor(0x6a, 0x08, 0x08);
    case SocketModel::NoAnswer:
        return QColor(0x2a, 0x22, 0x44);
    }
    return QColor(0xec, 0xee, 0xf2);
}

// Near-black on the light and middle levels, white on the dark one.
QColor TileDelegate::foreground(int verdict)
{
    return verdict == SocketModel::Rejected || verdict == SocketModel::NoAnswer
               ? Qt::white
               : QColor(0x14, 0x14, 0x14);
}

QString TileDelegate::word(int verdict)
{
    switch (verdict) {
    case SocketModel::Working:
        return QStringLiteral("В РАБОТЕ");
    case SocketModel::Done:
        return QStringLiteral("ГОТОВО");
    case SocketModel::AlreadyFlashed:
        return QStringLiteral("УЖЕ ПРОШИТ");
    case SocketModel::Rejected:
        return QStringLiteral("БРАК");
    case SocketModel::NoAnswer:
        return QStringLiteral("НЕ ОТВЕЧАЕТ");
    case SocketModel::Interrupted:
        return QStringLiteral("ПРЕРВАНО");
    case SocketModel::Unplugged:
        return QStringLiteral("ОТКЛЮЧЁН");
    case SocketModel::NoPort:
        return QStringLiteral("НЕТ ПОРТА");
    case SocketModel::OutOfService:
        return QStringLiteral("ОТКЛЮЧЕНО");
    case SocketModel::NoTableRow:
        return QStringLiteral("НЕТ СТРОКИ");
    }
    return QStringLiteral("ЖДЁТ");
}

QSize TileDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return mTileSize;
}

void TileDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    const int verdict = index.data(SocketModel::VerdictRole).toInt();
    const double h = option.rect.height();
    const double gap = qMax(2.0, h * marginShare);
    const QRectF tile = QRectF(option.rect).adjusted(gap, gap, -gap, -gap);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(option.state & QStyle::State_Selected
                        ? QPen(QColor(0x15, 0x65, 0xc0), qMax(3.0, h * 0.02))
                        : QPen(background(verdict).darker(140), 1));
    painter->setBrush(background(verdict));
    painter->drawRoundedRect(tile, gap * 2, gap * 2);
    painter->setPen(foreground(verdict));

    const double pad = gap * 2;
    const QRectF inner = tile.adjusted(pad, gap, -pad, -gap);
    const QFont base = option.font;
    const QString number = index.data(SocketModel::NumberRole).toString();
    painter->setFont(sized(base, h * numberShare, true));
    const double numberWidth = QFontMetricsF(painter->font()).horizontalAdvance(number) + pad;
    const QRectF numberRect(inner.left(), inner.top(), numberWidth, h * numberShare * 1.2);
    painter->drawText(numberRect, Qt::AlignLeft | Qt::AlignVCenter, number);

    const QRectF head(numberRect.right(), inner.top(), inner.right() - numberRect.right(),
                      numberRect.height());
    const QString imei = index.data(SocketModel::ImeiRole).toString();
    painter->setFont(sized(base, h * smallShare, false));
    const QFontMetricsF small(painter->font());
    const QString port = small.elidedText(index.data(SocketModel::PortRole).toString(),
                                          Qt::ElideRight, head.width());
    painter->drawText(head.adjusted(0, 0, 0, -head.height() / 2), Qt::AlignLeft | Qt::AlignBottom,
                      port);
    painter->drawText(head.adjusted(0, head.height() / 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                      imei.isEmpty() ? QString() : QStringLiteral("IMEI ") + imei);

    // The verdict: its shape and one word as large as the width allows.
    const double shape = h * shapeShare;
    const QRectF shapeBox(inner.left(), numberRect.bottom(), shape, shape);
    drawShape(painter, shapeBox, verdict);
    const QRectF wordRect(shapeBox.right() + pad, shapeBox.top(),
                          inner.right() - shapeBox.right() - pad, shape);
    const QString text = word(verdict);
    painter->setFont(fitted(base, h * wordShare, text, wordRect.width()));
    painter->drawText(wordRect, Qt::AlignLeft | Qt::AlignVCenter, text);

    double y = shapeBox.bottom() + gap;
    const int percent = index.data(SocketModel::ProgressRole).toInt();
    if (percent >= 0) {
        drawProgress(painter, QRectF(inner.left(), y, inner.width(), h * barShare), percent,
                     verdict);
        y += h * barShare + gap;
    }
    // The reason: what the state says in full, any warning, and the detail.
    const QString warning = index.data(SocketModel::WarningRole).toString();
    QStringList lines{index.data(SocketModel::StateTextRole).toString()};
    if (!warning.isEmpty())
        lines << QStringLiteral("Внимание: ") + warning;
    const QString detail = index.data(SocketModel::DetailRole).toString();
    if (!detail.isEmpty())
        lines << detail;
    painter->setFont(sized(base, qMax(double(reasonLeastPixels), h * reasonShare), false));
    // Whole lines only: a line cut in half reads as garbage.
    const double spacing = QFontMetricsF(painter->font()).lineSpacing();
    const QRectF reason(inner.left(), y, inner.width(),
                        qMax(0.0, std::floor((tile.bottom() - y) / spacing) * spacing));
    painter->setClipRect(reason);
    painter->drawText(reason, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, lines.join('\n'));
    painter->restore();
}

void TileDelegate::drawProgress(QPainter *painter, const QRectF &area, int percent, int verdict)
{
    const double radius = area.height() / 3;
    painter->setPen(Qt::NoPen);
    painter->setBrush(background(verdict).darker(140));
    painter->drawRoundedRect(area, radius, radius);
    QRectF done = area;
    done.setWidth(area.width() * qBound(0, percent, 100) / 100);
    painter->setBrush(foreground(verdict));
    painter->drawRoundedRect(done, radius, radius);
    painter->setPen(foreground(verdict));
}

// A shape per verdict, so two verdicts of one lightness still tell apart
// without their colour.
void TileDelegate::drawShape(QPainter *painter, const QRectF &box, int verdict)
{
    const double s = box.width();
    const auto at = [&box, s](double x, double y) {
        return QPointF(box.left() + x * s, box.top() + y * s);
    };
    const QRectF ring(at(0.1, 0.1), at(0.9, 0.9));
    QPen pen(foreground(verdict), s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter->save();
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    QPainterPath path;
    switch (verdict) {
    case SocketModel::Done: // a tick
        path.moveTo(at(0.12, 0.55));
        path.lineTo(at(0.4, 0.82));
        path.lineTo(at(0.9, 0.2));
        break;
    case SocketModel::AlreadyFlashed: // a tick in a ring
        pen.setWidthF(s * 0.09);
        painter->setPen(pen);
        path.addEllipse(ring);
        path.moveTo(at(0.3, 0.52));
        path.lineTo(at(0.45, 0.68));
        path.lineTo(at(0.72, 0.34));
        break;
    case SocketModel::Rejected: // a cross
        path.moveTo(at(0.15, 0.15));
        path.lineTo(at(0.85, 0.85));
        path.moveTo(at(0.85, 0.15));
        path.lineTo(at(0.15, 0.85));
        break;
    case SocketModel::NoAnswer: // a ring struck through
        pen.setWidthF(s * 0.09);
        painter->setPen(pen);
        path.addEllipse(ring);
        path.moveTo(at(0.22, 0.78));
        path.lineTo(at(0.78, 0.22));
        break;
    case SocketModel::Interrupted: // a pause sign
        painter->setPen(Qt::NoPen);
        painter->setBrush(foreground(verdict));
        painter->drawRect(QRectF(at(0.22, 0.15), at(0.42, 0.85)));
        painter->drawRect(QRectF(at(0.58, 0.15), at(0.78, 0.85)));
        break;
    case SocketModel::Unplugged: // a plug and its cable
        pen.setWidthF(s * 0.08);
        painter->setPen(pen);
        path.addRoundedRect(QRectF(at(0.2, 0.3), at(0.8, 0.62)), s * 0.05, s * 0.05);
        path.moveTo(at(0.35, 0.3));
        path.lineTo(at(0.35, 0.1));
        path.moveTo(at(0.65, 0.3));
        path.lineTo(at(0.65, 0.1));
        path.moveTo(at(0.5, 0.62));
        path.cubicTo(at(0.5, 0.85), at(0.2, 0.75), at(0.25, 0.95));
        break;
    case SocketModel::NoPort: // a warning triangle
        pen.setWidthF(s * 0.08);
        painter->setPen(pen);
        path.moveTo(at(0.5, 0.08));
        path.lineTo(at(0.94, 0.88));
        path.lineTo(at(0.06, 0.88));
        path.closeSubpath();
        path.moveTo(at(0.5, 0.36));
        path.lineTo(at(0.5, 0.6));
        path.moveTo(at(0.5, 0.74));
        path.lineTo(at(0.5, 0.75));
        break;
    case SocketModel::OutOfService: // a no-entry sign
        painter->setBrush(foreground(verdict));
        painter->setPen(Qt::NoPen);
        painter->drawEllipse(ring);
        painter->setBrush(background(verdict));
        painter->drawRect(QRectF(at(0.24, 0.42), at(0.76, 0.58)));
        break;
    case SocketModel::NoTableRow: // a table's grid
        pen.setWidthF(s * 0.07);
        painter->setPen(pen);
        path.addRect(QRectF(at(0.1, 0.2), at(0.9, 0.8)));
        path.moveTo(at(0.1, 0.4));
        path.lineTo(at(0.9, 0.4));
        path.moveTo(at(0.1, 0.6));
        path.lineTo(at(0.9, 0.6));
        path.moveTo(at(0.4, 0.2));
        path.lineTo(at(0.4, 0.8));
        break;
    case SocketModel::Working: // a three-quarter arc
        path.arcMoveTo(ring, 90);
        path.arcTo(ring, 90, -270);
        break;
    default: // an empty ring: waiting for a modem
        pen.setWidthF(s * 0.07);
        painter->setPen(pen);
        path.addEllipse(ring.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1));
        break;
    }
    painter->drawPath(path);
    painter->restore();
}

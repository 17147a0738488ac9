#include "shiftchart.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

const QString ShiftChart::succeededText = QStringLiteral("Успешно");
const QString ShiftChart::failedText = QStringLiteral("Ошибки");

namespace {
// Dark and solid against light and hatched: apart in greyscale as well.
const QColor succeededFill(0x1b, 0x5e, 0x20);
const QColor failedFill(0xf4, 0xb4, 0xb4);
const QColor failedHatch(0xb7, 0x1c, 0x1c);
const QColor axisColour(0x42, 0x42, 0x42);
const QColor gridColour(0xe0, 0xe0, 0xe0);
constexpr int margin = 8;
constexpr int swatch = 14;
constexpr int mostTicks = 5;
constexpr int widestBar = 40; // one hour alone is not drawn as a wall

void fillFailed(QPainter &painter, const QRect &bar)
{
    painter.fillRect(bar, failedFill);
    painter.fillRect(bar, QBrush(failedHatch, Qt::BDiagPattern));
    painter.setPen(failedHatch);
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
}

QString hourText(int hour)
{
    return QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'));
}
} // namespace

ShiftChart::ShiftChart(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("chartShift"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ShiftChart::setHours(const QVector<ShiftSummary::Hour> &hours)
{
    mHours = hours;
    update();
}

QVector<int> ShiftChart::countTicks(int highest)
{
    int step = 1;
    // 1, 2, 5, 10, 20, 50 …: the smallest that needs no more than mostTicks steps.
    for (int decade = 1; step * mostTicks <= highest; decade *= 10) {
        for (int factor : {1, 2, 5}) {
            step = factor * decade;
            if (step * mostTicks > highest)
                break;
        }
    }
    QVector<int> ticks{0};
    // A step above the highest bar, so that its count fits over it.
    while (ticks.last() <= highest)
        ticks.append(ticks.last() + step);
    return ticks;
}

int ShiftChart::labelEvery(int plotWidth) const
{
    const int room = fontMetrics().horizontalAdvance(QStringLiteral("00")) + margin;
    const int slot = mHours.isEmpty() ? plotWidth : plotWidth / mHours.size();
    int every = 1;
    while (slot * every < room && every < mHours.size())
        ++every;
    return every;
}

QStringList ShiftChart::hourLabels(int plotWidth) const
{
    QStringList labels;
    const int every = labelEvery(plotWidth);
    for (int i = 0; i < mHours.size(); i += every)
        labels << hourText(mHours.at(i).hour);
    return labels;
}

void ShiftChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect());
}

void ShiftChart::paint(QPainter &painter, const QRect &rect) const
{
    painter.save();
    painter.setFont(font());
    painter.fillRect(rect, Qt::white);
    paintLegend(painter, rect);
    const QVector<int> ticks = countTicks(highest());
    const QRect plot = plotRect(rect, ticks.last());
    paintAxes(painter, plot, ticks);
    if (mHours.isEmpty()) {
        painter.setPen(axisColour);
        painter.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("Сегодня записей в журнале ещё нет"));
    } else {
        paintBars(painter, plot, ticks.last());
    }
    painter.restore();
}

int ShiftChart::highest() const
{
    int highest = 0;
    for (const ShiftSummary::Hour &hour : mHours)
        highest = qMax(highest, qMax(hour.succeeded, hour.failed));
    return highest;
}

// Below the legend, right of the counts, above the hours.
QRect ShiftChart::plotRect(const QRect &rect, int topCount) const
{
    const QFontMetrics metrics(font());
    const int left =
        rect.left() + margin + metrics.horizontalAdvance(QString::number(topCount)) + margin / 2;
    return QRect(QPoint(left, rect.top() + margin + metrics.height() + margin),
                 QPoint(rect.right() - margin, rect.bottom() - margin - metrics.height()));
}

int ShiftChart::hourAt(const QPoint &point) const
{
    const QRect plot = plotRect(rect(), countTicks(highest()).last());
    // The bars and the hour's label below them.
    if (mHours.isEmpty() || point.x() < plot.left() || point.y() < plot.top())
        return -1;
    const int slot = (point.x() - plot.left()) * mHours.size() / qMax(1, plot.width());
    return slot < mHours.size() ? mHours.at(slot).hour : -1;
}

// Over a bar: its hour's counts in words, for bars too narrow to carry them.
bool ShiftChart::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    const int hour = hourAt(help->pos());
    const auto found = std::find_if(mHours.cbegin(), mHours.cend(),
                                    [hour](const ShiftSummary::Hour &h) { return h.hour == hour; });
    if (found == mHours.cend()) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(),
                       QStringLiteral("%1:00–%2:00 · %3 %4, %5 %6")
                           .arg(hourText(hour), hourText((hour + 1) % 24), succeededText)
                           .arg(found->succeeded)
                           .arg(failedText.toLower())
                           .arg(found->failed),
                       this);
    return true;
}

void ShiftChart::paintLegend(QPainter &painter, const QRect &rect) const
{
    const QFontMetrics metrics(font());
    const int top = rect.top() + margin;
    int x = rect.right() - margin - 2 * (swatch + margin / 2 + margin) -
            metrics.horizontalAdvance(succeededText) - metrics.horizontalAdvance(failedText);
    const int swatchTop = top + (metrics.height() - swatch) / 2;
    painter.fillRect(QRect(x, swatchTop, swatch, swatch), succeededFill);
    x += swatch + margin / 2;
    painter.setPen(axisColour);
    painter.drawText(QPoint(x, top + metrics.ascent()), succeededText);
    x += metrics.horizontalAdvance(succeededText) + margin;
    fillFailed(painter, QRect(x, swatchTop, swatch, swatch));
    x += swatch + margin / 2;
    painter.setPen(axisColour);
    painter.drawText(QPoint(x, top + metrics.ascent()), failedText);
}

void ShiftChart::paintAxes(QPainter &painter, const QRect &plot, const QVector<int> &ticks) const
{
    const QFontMetrics metrics(font());
    const int top = ticks.last();
    for (int tick : ticks) {
        const int y = plot.bottom() - plot.height() * tick / top;
        painter.setPen(tick == 0 ? axisColour : gridColour);
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(axisColour);
        const QString text = QString::number(tick);
        painter.drawText(QPoint(plot.left() - margin / 2 - metrics.horizontalAdvance(text),
                                y + metrics.ascent() / 2 - 1),
                         text);
    }
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
}

void ShiftChart::paintBars(QPainter &painter, const QRect &plot, int top) const
{
    const QFontMetrics metrics(font());
    const int slot = plot.width() / mHours.size();
    const int bar = qBound(1, slot * 2 / 5, widestBar);
    const int every = labelEvery(plot.width());
    const auto height = [&plot, top](int count) { return plot.height() * count / top; };
    for (int i = 0; i < mHours.size(); ++i) {
        const ShiftSummary::Hour &hour = mHours.at(i);
        // Slots spread over the whole width, the remainder shared out among them.
        const int slotLeft = plot.left() + i * plot.width() / mHours.size();
        const int x = slotLeft + (slot - 2 * bar) / 2;
        const QRect succeeded(x, plot.bottom() - height(hour.succeeded), bar,
                              height(hour.succeeded));
        const QRect failed(x + bar, plot.bottom() - height(hour.failed), bar, height(hour.failed));
        if (hour.succeeded > 0)
            painter.fillRect(succeeded, succeededFill);
        if (hour.failed > 0)
            fillFailed(painter, failed);
        painter.setPen(axisColour);
        if (i % every == 0)
            painter.drawText(QRect(slotLeft, plot.bottom() + 2, slot, metrics.height()),
                             Qt::AlignHCenter | Qt::AlignTop, hourText(hour.hour));
        // The counts on the bars, where they fit.
        for (const auto &[rect, count] :
             {std::pair{succeeded, hour.succeeded}, std::pair{failed, hour.failed}}) {
            const QString text = QString::number(count);
            if (count > 0 && metrics.horizontalAdvance(text) <= bar &&
                rect.top() - metrics.height() >= plot.top())
                painter.drawText(
                    QRect(rect.left(), rect.top() - metrics.height(), bar, metrics.height()),
                    Qt::AlignCenter, text);
        }
    }
}

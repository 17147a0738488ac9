#pragma once

#include "line/shiftsummary.h"

#include <QStringList>
#include <QVector>
#include <QWidget>

class QPainter;

// Successes and failures per hour of the shift as pairs of bars, with the
// hours along the bottom, the counts up the side and a legend. The two
// series differ in lightness and pattern as well as hue (a dark solid bar,
// a light hatched one), so they read on a greyscale screen or a printout.
class ShiftChart : public QWidget
{
    Q_OBJECT

public:
    explicit ShiftChart(QWidget *parent = nullptr);

    void setHours(const QVector<ShiftSummary::Hour> &hours);
    QVector<ShiftSummary::Hour> hours() const { return mHours; }
    // Draws the chart into rect: the widget's own painting, and a picture's.
    void paint(QPainter &painter, const QRect &rect) const;

    // The hour labels drawn below the bars ("08", "09", …); in a narrow
    // chart only every second or third, so that they never overlap.
    QStringList hourLabels(int plotWidth) const;
    // The counts marked up the side: 0 and round steps to one above the highest bar.
    static QVector<int> countTicks(int highest);
    // The hour of the bars under a point of the widget, or -1.
    int hourAt(const QPoint &point) const;

    QSize sizeHint() const override { return QSize(520, 240); }
    QSize minimumSizeHint() const override { return QSize(240, 160); }

    static const QString succeededText;
    static const QString failedText;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    void paintLegend(QPainter &painter, const QRect &rect) const;
    void paintBars(QPainter &painter, const QRect &plot, int top) const;
    void paintAxes(QPainter &painter, const QRect &plot, const QVector<int> &ticks) const;
    int labelEvery(int plotWidth) const;
    int highest() const;
    QRect plotRect(const QRect &rect, int topCount) const;

    QVector<ShiftSummary::Hour> mHours;
};

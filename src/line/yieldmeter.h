#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <optional>

// Modems prepared per hour: the successes of the last hour, or of the time
// since the start while that is shorter, and no figure at all in the first
// minutes, when a success or two would extrapolate to hundreds. Failures are
// not yield. Times are milliseconds since the start, handed in.
class YieldMeter
{
public:
    static constexpr qint64 windowMs = 60 * 60 * 1000;
    static constexpr qint64 settleMs = 5 * 60 * 1000;

    void noteSuccess(qint64 atMs);
    std::optional<double> perHour(qint64 nowMs) const;
    // The figure as the counters show it: one decimal, or "—" while there is none.
    QString perHourText(qint64 nowMs) const;

private:
    QList<qint64> mSuccessesMs; // oldest first
};

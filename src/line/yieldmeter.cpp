#include "yieldmeter.h"

void YieldMeter::noteSuccess(qint64 atMs)
{
    mSuccessesMs.append(atMs);
    // Only the last hour is ever counted again.
    while (!mSuccessesMs.isEmpty() && mSuccessesMs.first() <= atMs - windowMs)
        mSuccessesMs.removeFirst();
}

std::optional<double> YieldMeter::perHour(qint64 nowMs) const
{
    if (nowMs < settleMs)
        return std::nullopt;
    const qint64 spanMs = qMin(nowMs, windowMs);
    int successes = 0;
    for (const qint64 at : mSuccessesMs) {
        if (at > nowMs - spanMs && at <= nowMs)
            ++successes;
    }
    return successes * double(windowMs) / double(spanMs);
}

QString YieldMeter::perHourText(qint64 nowMs) const
{
    const std::optional<double> rate = perHour(nowMs);
    return rate ? QString::number(*rate, 'f', 1) : QStringLiteral("—");
}

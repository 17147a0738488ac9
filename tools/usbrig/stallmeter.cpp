#include "stallmeter.h"

#include <algorithm>

namespace {
constexpr int tickMs = 5;
}

StallMeter::StallMeter()
{
    mTimerTick.setTimerType(Qt::PreciseTimer);
    mTimerTick.setInterval(tickMs);
    QObject::connect(&mTimerTick, &QTimer::timeout, &mTimerTick, [this] { tick(); });
    mTimerTick.start();
    restart();
}

void StallMeter::restart()
{
    mClock.start();
    mLastMs = 0;
    mLargestMs = 0;
}

void StallMeter::tick()
{
    const qint64 now = mClock.elapsed();
    mLargestMs = std::max(mLargestMs, now - mLastMs - tickMs);
    mLastMs = now;
}

#include "stallmeter.h"

#include <algorithm>

StallMeter::StallMeter()
{
    mTimer.setTimerType(Qt::PreciseTimer);
    mTimer.setInterval(probeMs);
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
        mMaxGapMs = std::max(mMaxGapMs, mClock.restart() - probeMs);
        if (mOnTick)
            mOnTick();
    });
}

void StallMeter::start()
{
    mMaxGapMs = 0;
    mClock.start();
    mTimer.start();
}

qint64 StallMeter::stop()
{
    mTimer.stop();
    return mMaxGapMs;
}

qint64 StallMeter::takeMax()
{
    return std::exchange(mMaxGapMs, 0);
}

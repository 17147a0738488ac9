#include "stallmeter.h"

#include <QTime>

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
    mLargestEnd.clear();
}

void StallMeter::tick()
{
    const qint64 now = mClock.elapsed();
    if (now - mLastMs - tickMs > mLargestMs) {
        mLargestMs = now - mLastMs - tickMs;
        mLargestEnd = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    }
    mLastMs = now;
}

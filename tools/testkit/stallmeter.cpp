#include "stallmeter.h"

#include <QTime>
#include <utility>

StallMeter::StallMeter(int probeMs) : mProbeMs(probeMs)
{
    mTimer.setTimerType(Qt::PreciseTimer);
    mTimer.setInterval(probeMs);
    QObject::connect(&mTimer, &QTimer::timeout, &mTimer, [this] { tick(); });
}

void StallMeter::start()
{
    mLargestMs = 0;
    mLargestEnd.clear();
    mClock.start();
    mTimer.start();
}

qint64 StallMeter::stop()
{
    mTimer.stop();
    return mLargestMs;
}

qint64 StallMeter::takeMax()
{
    mLargestEnd.clear();
    return std::exchange(mLargestMs, 0);
}

void StallMeter::tick()
{
    const qint64 gap = mClock.restart() - mProbeMs;
    if (gap > mLargestMs) {
        mLargestMs = gap;
        mLargestEnd = QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
    }
    if (mOnTick)
        mOnTick();
}

#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

// Measures how long the event loop goes without serving a short timer: the
// largest gap beyond the timer's own interval is the worst stall an operator
// would feel as a frozen window.
class StallMeter
{
public:
    StallMeter();

    void restart();
    qint64 largestStallMs() const { return mLargestMs; }
    // When the largest stall ended, "hh:mm:ss.zzz", to find its cause in the log pane.
    QString largestStallEnd() const { return mLargestEnd; }

private:
    void tick();

    QTimer mTimerTick;
    QElapsedTimer mClock;
    qint64 mLastMs = 0;
    qint64 mLargestMs = 0;
    QString mLargestEnd;
};

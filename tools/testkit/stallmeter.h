#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <functional>

// The longest time the event loop (the GUI thread's, or the watch's) did not
// get back to it: a precise timer ticks every probeMs, and any gap beyond
// that was a freeze an operator would feel. Counts from start().
class StallMeter
{
public:
    explicit StallMeter(int probeMs = 2);

    void start();  // also a fresh start of the count
    qint64 stop(); // the largest gap
    // The largest gap so far, and a fresh start of the count.
    qint64 takeMax();
    qint64 largestMs() const { return mLargestMs; }
    // When the largest gap ended, "hh:mm:ss.zzz", to find its cause in a log.
    QString largestEnd() const { return mLargestEnd; }
    // Runs after each tick, for a caller that splits a run into phases.
    void setOnTick(std::function<void()> onTick) { mOnTick = std::move(onTick); }

private:
    void tick();

    int mProbeMs;
    QTimer mTimer;
    QElapsedTimer mClock;
    qint64 mLargestMs = 0;
    QString mLargestEnd;
    std::function<void()> mOnTick;
};

#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

// The longest time the GUI thread (or the watch's event loop) did not get back
// to its event loop: a precise timer ticks every 2 ms; any gap beyond that was
// a freeze.
class StallMeter
{
public:
    static constexpr int probeMs = 2;

    StallMeter();
    void start();
    qint64 stop();
    // The largest gap so far, and a fresh start of the count.
    qint64 takeMax();
    // Runs after each tick, for a caller that splits a run into phases.
    void setOnTick(std::function<void()> onTick) { mOnTick = std::move(onTick); }

private:
    QTimer mTimer;
    QElapsedTimer mClock;
    qint64 mMaxGapMs = 0;
    std::function<void()> mOnTick;
};

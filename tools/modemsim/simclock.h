#pragma once

#include <QtGlobal>
#include <chrono>

// The simulated modem's time: a monotonic clock in nanoseconds.
inline qint64 simClockNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

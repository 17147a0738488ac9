#pragma once

#include "protocol/timing.h"

namespace TestSupport {

// The tests of the tool's decisions run its waits this many times shorter,
// against simulated modems that run as many times faster (ModemSim's time
// scale): what the tool sees is what it sees at real time, only sooner. The
// few tests that pin the real waits run on the product's Timing.
constexpr int fastScale = 20;

// No answer wait below this at the fast scale: a twentieth of 250 ms is 13 ms,
// shorter than a busy two-core machine (sanitizers, two suites at once) may
// take to schedule the reader. It stays below every pause of the simulated
// modem (its restart silence and script output interval at this scale), so
// what the tool sees keeps its order.
constexpr Timing::Ms leastFastAnswer{50};

inline Timing fastTiming()
{
    return Timing().scaled(fastScale).withAnswersAtLeast(leastFastAnswer);
}

// A duration of the real tool's (its waits, a modem's silence) at the fast scale.
constexpr int fastMs(int productMs)
{
    return (productMs + fastScale - 1) / fastScale;
}

// What a loaded two-core machine may add to a duration that no scale
// shortens: thread wake-ups, the event loop's turns, a test's own polling. A
// bound on how soon the tool reacts is the scaled bound plus this.
constexpr int schedulingSlackMs = 100;

} // namespace TestSupport

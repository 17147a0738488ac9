#pragma once

#include <functional>

namespace TestSupport {

// Runs the event loop until the condition holds or the time is up, checking it
// every 10 ms; true when it holds. For the benchmark's timed runs only:
// QTest::qWaitFor sleeps 10 ms between batches of events, which a stall probe
// on the GUI thread would count as freezes of the tool. Everywhere else
// QTest::qWaitFor is the wait to use.
bool waitServingEvents(const std::function<bool()> &condition, int timeoutMs);

} // namespace TestSupport

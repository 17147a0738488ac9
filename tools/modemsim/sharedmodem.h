#pragma once

#include "modembehaviour.h"

#include <condition_variable>
#include <mutex>

// The modem's state as the API threads and the serving thread share it: every access
// to `behaviour` holds `mutex`; `changed` is signalled when the line has been hung up.
// Standard locks rather than QMutex, so that thread checkers see every hand-over.
struct SharedModem
{
    std::mutex mutex;
    std::condition_variable changed;
    ModemBehaviour behaviour;
    bool hungUp = false;
};

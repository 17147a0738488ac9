#include "watchdog.h"

#include <cstdio>
#include <cstdlib>

Watchdog::Watchdog(std::chrono::seconds limit) : mThread(&Watchdog::watch, this, limit) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mCalledOff = true;
    }
    mWake.notify_one();
    mThread.join();
}

void Watchdog::watch(std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(mMutex);
    if (mWake.wait_for(lock, limit, [this] { return mCalledOff; }))
        return;
    fflush(stdout);
    fprintf(stderr, "lorta-demo: FAILED: still running after %lld s; stopped by the watchdog\n",
            static_cast<long long>(limit.count()));
    std::_Exit(3);
}

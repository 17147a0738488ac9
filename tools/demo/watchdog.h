#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// The last resort against a hang: if the process is still running when the
// time is up (the GUI thread stuck, so no timer of its own can fire), it says
// so and ends the process with exit code 3.
class Watchdog
{
public:
    explicit Watchdog(std::chrono::seconds limit);
    ~Watchdog(); // called off in time
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

private:
    void watch(std::chrono::seconds limit);

    std::mutex mMutex;
    std::condition_variable mWake;
    bool mCalledOff = false;
    std::thread mThread;
};

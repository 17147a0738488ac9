#pragma once

// Wakes the serving thread out of poll() from any thread: a non-blocking self-pipe.
class WakeSignal
{
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal &) = delete;
    WakeSignal &operator=(const WakeSignal &) = delete;

    int fd() const { return mRead; }
    void notify();
    void drain();

private:
    int mRead = -1;
    int mWrite = -1;
};

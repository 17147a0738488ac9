#pragma once

#include "portentry.h"

#include <functional>

// Lists the serial ports without opening any: the system's list by default,
// or whatever a test (or a benchmark) hands in.
class PortLister
{
public:
    using Source = std::function<QList<PortEntry>()>;

    PortLister(); // the system's ports
    // threadSafe: the source may be called from another thread than the owner's.
    explicit PortLister(Source source, bool threadSafe = false)
        : mSource(std::move(source)), mThreadSafe(threadSafe)
    {
    }

    QList<PortEntry> ports() const { return mSource(); }
    // The system's list is; a hand-filled one is only when its maker says so.
    bool threadSafe() const { return mThreadSafe; }

    static QList<PortEntry> systemPorts();

private:
    Source mSource;
    bool mThreadSafe = false;
};

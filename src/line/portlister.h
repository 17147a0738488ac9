#pragma once

#include "portentry.h"

#include <functional>

// Lists the serial ports without opening any: the system's list by default,
// or whatever a test (or a benchmark) hands in.
class PortLister
{
public:
    using Source = std::function<QList<PortEntry>()>;
    // A cheap look that changes whenever the list may have: empty when there is none.
    using Signature = std::function<QByteArray()>;

    PortLister(); // the system's ports
    // threadSafe: the source may be called from another thread than the owner's.
    explicit PortLister(Source source, bool threadSafe = false, Signature signature = {})
        : mSource(std::move(source)), mSignature(std::move(signature)), mThreadSafe(threadSafe)
    {
    }

    QList<PortEntry> ports() const { return mSource(); }
    QByteArray signature() const { return mSignature ? mSignature() : QByteArray(); }
    // The system's list is; a hand-filled one is only when its maker says so.
    bool threadSafe() const { return mThreadSafe; }

    static QList<PortEntry> systemPorts();
    // The identity of the device node at the path (PortEntry::device).
    static QString deviceNode(const QString &systemLocation);
    // On Linux the tty devices the kernel has (their names), the time the
    // device directory last changed (a node made or removed, also for a port
    // pulled and plugged back between two looks) and the time udev's database
    // did (a port's details filled in); elsewhere none.
    static QByteArray systemSignature();

private:
    Source mSource;
    Signature mSignature;
    bool mThreadSafe = false;
};

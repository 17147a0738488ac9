#pragma once

#include "portentry.h"
#include "portlister.h"
#include "usbidfilter.h"

#include <QHash>
#include <QObject>
#include <QSet>

class QTimer;

// Reports serial ports that appear and disappear, by listing them twice a
// second (Qt 5 has no hot-plug signal); never opens a port. Only ports the
// filter matches are reported. Ports present at start() are left alone unless
// includePresent is set: a GPS or a debug console on the bench PC must never
// receive a command.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int pollIntervalMs = 500;

    explicit PortWatcher(const PortLister &lister, QObject *parent = nullptr);

    void setFilter(const UsbIdFilter &filter) { mFilter = filter; }
    void setIncludePresent(bool include) { mIncludePresent = include; }
    void start();
    void stop();
    // One look at the list; the timer calls it, a test may too.
    void poll();

signals:
    void signal_portAdded(PortEntry port);
    void signal_portRemoved(PortEntry port);

private:
    PortLister mLister;
    UsbIdFilter mFilter;
    QTimer *mTimerPoll;
    QHash<QString, PortEntry> mKnown; // reported ports by name
    QSet<QString> mIgnored;           // present at start: left alone until they go
    bool mIncludePresent = false;
};

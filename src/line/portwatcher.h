#pragma once

#include "listingschedule.h"
#include "portentry.h"
#include "portlister.h"
#include "usbidfilter.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <memory>

class QTimer;
class WorkerThread;

// Reports serial ports that appear and disappear, by looking at them twice a
// second (Qt 5 has no hot-plug signal); never opens a port. A look lists them
// only when the lister's signature (or the time) says it may find a change:
// see ListingSchedule. A first look and a confirming one always list. A lister that may
// run on another thread (the system's: udev and sysfs, milliseconds each time)
// lists on a thread of its own, the result handled on the owner's. Only ports the
// filter matches are reported. Ports present at start() are left alone unless
// includePresent is set: a GPS or a debug console on the bench PC must never
// receive a command.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    // Looks every portPoll; a port missing from one listing is looked for
    // again after portConfirm, and only a second listing without it makes it
    // gone.
    PortWatcher(const PortLister &lister, const Timing &timing, QObject *parent = nullptr);

    void setFilter(const UsbIdFilter &filter) { mFilter = filter; }
    void setIncludePresent(bool include) { mIncludePresent = include; }
    void start();
    void stop();
    // One look at the list, on the calling thread; a test may call it.
    void poll();
    // A full listing now rather than at the next poll (a port may have gone).
    void lookNow();

signals:
    void signal_portAdded(PortEntry port);
    void signal_portRemoved(PortEntry port);
    // The matching ports present at start() and left alone, by name, sorted.
    void signal_presentSkipped(QStringList names);

private:
    void slot_mTimerPoll_timeout();
    // Lists on the lister's thread, if due or forced; the result comes back to handle().
    void listElsewhere(bool force);
    void handle(const QList<PortEntry> &ports);
    void replaceChangedDevices(const QList<PortEntry> &ports);
    bool confirmedGone(const QSet<QString> &names, const QString &name, QSet<QString> &missing);
    void ignorePresent(const QList<PortEntry> &ports);

    PortLister mLister;
    WorkerThread *mThreadList = nullptr; // only for a lister that may run there
    // Used only where the lister runs: on mThreadList when there is one.
    std::shared_ptr<ListingSchedule> mSchedule;
    QElapsedTimer mClock;
    bool mListing = false;      // a listing is in flight
    bool mListAgain = false;    // a full one is asked for meanwhile
    bool mFirstListing = false; // its result is the list present at start()
    int mGeneration = 0;        // a result of an earlier start() is dropped
    UsbIdFilter mFilter;
    QTimer *mTimerPoll;
    QHash<QString, PortEntry> mKnown; // reported ports by name
    QSet<QString> mIgnored;           // present at start: left alone until they go
    QSet<QString> mMissing;           // known or ignored, absent from the last listing
    QTimer *mTimerConfirm;
    bool mIncludePresent = false;
};

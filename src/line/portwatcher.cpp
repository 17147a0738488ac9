#include "portwatcher.h"

#include <QTimer>

PortWatcher::PortWatcher(const PortLister &lister, QObject *parent)
    : QObject(parent), mLister(lister), mTimerPoll(new QTimer(this))
{
    qRegisterMetaType<PortEntry>();
    mTimerPoll->setInterval(pollIntervalMs);
    connect(mTimerPoll, &QTimer::timeout, this, &PortWatcher::poll);
}

void PortWatcher::start()
{
    mKnown.clear();
    mIgnored.clear();
    if (!mIncludePresent) {
        const QList<PortEntry> present = mLister.ports();
        for (const PortEntry &port : present)
            mIgnored.insert(port.name);
    }
    poll();
    mTimerPoll->start();
}

void PortWatcher::stop()
{
    mTimerPoll->stop();
}

void PortWatcher::poll()
{
    const QList<PortEntry> ports = mLister.ports();
    QSet<QString> names;
    for (const PortEntry &port : ports)
        names.insert(port.name);

    // A port ignored at start becomes eligible once it has gone: what is
    // plugged in there next is a new device.
    for (auto it = mIgnored.begin(); it != mIgnored.end();)
        it = names.contains(*it) ? std::next(it) : mIgnored.erase(it);

    for (auto it = mKnown.begin(); it != mKnown.end();) {
        if (names.contains(it.key())) {
            ++it;
            continue;
        }
        const PortEntry gone = it.value();
        it = mKnown.erase(it);
        emit signal_portRemoved(gone);
    }
    for (const PortEntry &port : ports) {
        if (mKnown.contains(port.name) || mIgnored.contains(port.name) || !mFilter.matches(port))
            continue;
        mKnown.insert(port.name, port);
        emit signal_portAdded(port);
    }
}

#include "portwatcher.h"

#include "workerthread.h"

#include <optional>

#include <QTimer>

namespace {
// Every look tells the schedule what it saw; a forced one lists regardless.
bool listingDue(ListingSchedule &schedule, const PortLister &lister, qint64 nowMs, bool force)
{
    return schedule.needsListing(lister.signature(), nowMs) || force;
}
} // namespace

PortWatcher::PortWatcher(const PortLister &lister, const Timing &timing, QObject *parent)
    : QObject(parent), mLister(lister),
      mSchedule(std::make_shared<ListingSchedule>(timing.listingSettle, timing.listingRefresh)),
      mTimerPoll(new QTimer(this)), mTimerConfirm(new QTimer(this))
{
    qRegisterMetaType<PortEntry>();
    mTimerPoll->setInterval(timing.portPoll);
    connect(mTimerPoll, &QTimer::timeout, this, &PortWatcher::slot_mTimerPoll_timeout);
    mTimerConfirm->setSingleShot(true);
    mTimerConfirm->setInterval(timing.portConfirm);
    connect(mTimerConfirm, &QTimer::timeout, this, &PortWatcher::lookNow);
    mClock.start();
    if (mLister.threadSafe())
        mThreadList = new WorkerThread(QStringLiteral("PortLister"), this);
}

void PortWatcher::start()
{
    mKnown.clear();
    mIgnored.clear();
    mMissing.clear();
    ++mGeneration;
    mTimerPoll->start();
    if (mThreadList) {
        mFirstListing = true;
        listElsewhere(true);
        return;
    }
    if (!mIncludePresent)
        ignorePresent(mLister.ports());
    poll();
}

void PortWatcher::stop()
{
    mListAgain = false;
    mTimerPoll->stop();
    mTimerConfirm->stop();
    ++mGeneration;
}

void PortWatcher::ignorePresent(const QList<PortEntry> &ports)
{
    QStringList skipped;
    for (const PortEntry &port : ports) {
        mIgnored.insert(port.name);
        if (mFilter.matches(port))
            skipped << port.name;
    }
    // Said, not silent: after a restart the modems already in would otherwise
    // sit there with nothing telling the operator why.
    if (!skipped.isEmpty()) {
        skipped.sort();
        emit signal_presentSkipped(skipped);
    }
}

void PortWatcher::slot_mTimerPoll_timeout()
{
    if (mThreadList)
        listElsewhere(false);
    else if (listingDue(*mSchedule, mLister, mClock.elapsed(), false))
        poll();
}

void PortWatcher::lookNow()
{
    if (!mTimerPoll->isActive())
        return; // stopped
    if (mThreadList)
        listElsewhere(true);
    else
        poll();
}

// One listing at a time: a slow one is not queued up behind by the timer, and
// a full listing asked for while one is under way (a confirming one too)
// follows it. A look that did not list changes nothing.
void PortWatcher::listElsewhere(bool force)
{
    if (mListing) {
        mListAgain = mListAgain || force;
        return;
    }
    mListing = true;
    const PortLister lister = mLister;
    const std::shared_ptr<ListingSchedule> schedule = mSchedule;
    const qint64 nowMs = mClock.elapsed();
    const int generation = mGeneration;
    auto ports = std::make_shared<std::optional<QList<PortEntry>>>();
    mThreadList->post(
        [lister, schedule, nowMs, force, ports] {
            if (listingDue(*schedule, lister, nowMs, force))
                *ports = lister.ports();
        },
        [this, ports, generation] {
            mListing = false;
            if (generation != mGeneration)
                return; // stopped or restarted meanwhile
            if (std::exchange(mListAgain, false))
                QTimer::singleShot(0, this, &PortWatcher::lookNow);
            if (!*ports)
                return;
            if (std::exchange(mFirstListing, false) && !mIncludePresent)
                ignorePresent(**ports);
            handle(**ports);
        });
}

void PortWatcher::poll()
{
    handle(mLister.ports());
}

// The system's list can miss a port that is still there for one look, while
// another adapter comes or goes: a port is gone only when two listings in a
// row miss it, the second taken soon after the first.
bool PortWatcher::confirmedGone(const QSet<QString> &names, const QString &name,
                                QSet<QString> &missing)
{
    if (names.contains(name))
        return false;
    if (mMissing.contains(name))
        return true;
    missing.insert(name);
    return false;
}

// A known port whose name now stands for another device node was pulled
// and plugged in again between two looks: it went, and a new one came.
void PortWatcher::replaceChangedDevices(const QList<PortEntry> &ports)
{
    for (const PortEntry &port : ports) {
        const auto known = mKnown.constFind(port.name);
        if (known == mKnown.constEnd() || known->device.isEmpty() || port.device.isEmpty() ||
            known->device == port.device)
            continue;
        const PortEntry gone = *known;
        mKnown.remove(port.name);
        emit signal_portRemoved(gone);
    }
}

void PortWatcher::handle(const QList<PortEntry> &ports)
{
    QSet<QString> names;
    for (const PortEntry &port : ports)
        names.insert(port.name);
    QSet<QString> missing;
    replaceChangedDevices(ports);

    // A port ignored at start becomes eligible once it has gone: what is
    // plugged in there next is a new device.
    for (auto it = mIgnored.begin(); it != mIgnored.end();)
        it = confirmedGone(names, *it, missing) ? mIgnored.erase(it) : std::next(it);

    for (auto it = mKnown.begin(); it != mKnown.end();) {
        if (!confirmedGone(names, it.key(), missing)) {
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
    mMissing = missing;
    if (!mMissing.isEmpty())
        mTimerConfirm->start();
}

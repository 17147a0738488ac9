#pragma once

#include "protocol/timing.h"

#include <QByteArray>
#include <QtGlobal>

// Decides, at each poll, whether the watcher needs the system's full port
// list (milliseconds of device enumeration) or whether a cheap look at what
// the system shows (its signature: names and times, microseconds) says that
// nothing changed. After any change the full list is taken at every poll for
// a while, since a new port's details (its USB IDs, its serial number) are
// filled in by the system shortly after the port appears; and it is taken
// now and then anyway, so that nothing the signature misses stays unseen. A
// system without a signature (empty) is always listed.
class ListingSchedule
{
public:
    // settle: how long after a change every look lists; refresh: the longest
    // time between two listings.
    ListingSchedule(Timing::Ms settle, Timing::Ms refresh)
        : mSettleMs(settle.count()), mRefreshMs(refresh.count())
    {
    }

    // Whether to list now; a yes counts as the listing taken at nowMs.
    bool needsListing(const QByteArray &signature, qint64 nowMs);

private:
    qint64 mSettleMs;
    qint64 mRefreshMs;
    QByteArray mSignature;
    bool mListed = false;
    qint64 mChangedAt = 0;
    qint64 mListedAt = 0;
};

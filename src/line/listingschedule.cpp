#include "listingschedule.h"

bool ListingSchedule::needsListing(const QByteArray &signature, qint64 nowMs)
{
    if (signature.isEmpty())
        return true;
    if (!mListed || signature != mSignature) {
        mSignature = signature;
        mChangedAt = nowMs;
    }
    const bool list = !mListed || nowMs - mChangedAt < mSettleMs || nowMs - mListedAt >= mRefreshMs;
    if (list) {
        mListed = true;
        mListedAt = nowMs;
    }
    return list;
}

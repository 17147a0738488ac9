#include "linepacer.h"

#include <algorithm>
#include <limits>

int LinePacer::allowance(qint64 nowNs)
{
    if (!mBusy) {
        mBusy = true;
        // The line is free again one byte time after the last byte of the previous burst.
        mNextNs = std::max(nowNs + mByteNs, mNextNs);
    }
    if (nowNs < mNextNs)
        return 0;
    const qint64 due = 1 + (nowNs - mNextNs) / mByteNs;
    return int(std::min<qint64>(due, std::numeric_limits<int>::max()));
}

void LinePacer::consumed(int count, bool drained)
{
    mNextNs += qint64(count) * mByteNs;
    if (drained)
        mBusy = false;
}

#include "socketmemory.h"

SocketMemory::Turn SocketMemory::turnFor(const QString &imei) const
{
    if (!mAgain && !imei.isEmpty() && imei == mSuccessImei)
        return Turn::FlashedHere;
    if (mLastJob && *mLastJob == imei && !mLeft)
        return Turn::SameModem;
    return Turn::Job;
}

void SocketMemory::noteJob(const QString &imei, bool success, const QDateTime &time)
{
    mLastJob = imei;
    mLeft = false;
    if (success && !imei.isEmpty()) {
        mSuccessImei = imei;
        mSuccessTime = time;
    }
}

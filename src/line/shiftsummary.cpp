#include "shiftsummary.h"

ShiftSummary ShiftSummary::of(const QList<JournalRecord> &records, const QDateTime &now)
{
    ShiftSummary summary(now.date());
    for (const JournalRecord &record : records)
        summary.count(record);
    return summary;
}

bool ShiftSummary::count(const JournalRecord &record)
{
    if (record.time.date() != mDay || record.result == JournalRecord::Result::SocketDisabled)
        return false;
    Socket &socket = mSockets[record.socket];
    socket.number = record.socket;
    const LineCounters before = socket.counters;
    socket.counters.count(record);
    Hour &hour = mHours[record.time.time().hour()];
    hour.hour = record.time.time().hour();
    hour.succeeded += socket.counters.succeeded - before.succeeded;
    if (socket.counters.failed == before.failed)
        return true;
    ++hour.failed;
    socket.lastFailure =
        record.text.isEmpty() ? JournalRecord::resultText(record.result) : record.text;
    socket.lastFailureTime = record.time;
    return true;
}

QVector<ShiftSummary::Hour> ShiftSummary::hours(const QDateTime &now) const
{
    QVector<Hour> hours;
    if (mHours.isEmpty())
        return hours;
    const int current = now.date() == mDay ? now.time().hour() : mHours.lastKey();
    const int last = qMax(current, mHours.lastKey());
    for (int hour = mHours.firstKey(); hour <= last; ++hour) {
        Hour counted = mHours.value(hour);
        counted.hour = hour;
        hours.append(counted);
    }
    return hours;
}

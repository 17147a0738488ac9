#pragma once

#include "journalrecord.h"
#include "linecounters.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>

// One day's journal records summed up per socket and per hour: what the
// shift panel and the flasher's closing table show. Successes and failures
// are counted as the run's counters count them; records of another day are
// left out, so a shift running past midnight starts afresh.
class ShiftSummary
{
public:
    struct Socket
    {
        int number = 0;
        LineCounters counters;
        QString lastFailure; // the last failure's text, or its result's when it has none
        QDateTime lastFailureTime;
    };
    struct Hour
    {
        int hour = 0; // 0..23
        int succeeded = 0;
        int failed = 0;
    };

    explicit ShiftSummary(const QDate &day = QDate()) : mDay(day) {}
    // The records of now's day, in the journal's order.
    static ShiftSummary of(const QList<JournalRecord> &records, const QDateTime &now);

    QDate day() const { return mDay; }
    // Counts a record of the day; false (nothing counted) for another day's.
    bool count(const JournalRecord &record);
    bool isEmpty() const { return mSockets.isEmpty(); }
    // In socket order.
    QList<Socket> sockets() const { return mSockets.values(); }
    Socket socket(int number) const { return mSockets.value(number); }
    // Every hour from the first record's to now's (or to the last record's,
    // when the clock is behind it), empty ones included; none without records.
    QVector<Hour> hours(const QDateTime &now) const;

private:
    QDate mDay;
    QMap<int, Socket> mSockets;
    QMap<int, Hour> mHours;
};

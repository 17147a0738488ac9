#pragma once

#include "journalrecord.h"

// The counters of a run, from its records: a success, a modem found already
// flashed (its script runs; not prepared here, not a fault), and every other
// modem's result, which is a failure. A socket taken out of service is no
// modem's result: its failures are counted already.
struct LineCounters
{
    int succeeded = 0;
    int alreadyFlashed = 0;
    int failed = 0;

    void count(const JournalRecord &record)
    {
        if (record.result == JournalRecord::Result::SocketDisabled)
            return;
        if (record.result == JournalRecord::Result::Success)
            ++succeeded;
        else if (record.result == JournalRecord::Result::AlreadyFlashed)
            ++alreadyFlashed;
        else
            ++failed;
    }
};

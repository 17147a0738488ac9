#pragma once

#include "fleet/fleettiming.h"
#include "protocol/modemfiles.h"
#include "protocol/timing.h"
#include "session/operationtype.h"
#include "settings/smallfile.h"
#include "usbidfilter.h"

#include <QString>
#include <optional>

// What a watch does: which job on every matching modem, where it records them.
struct WatchOptions
{
    OperationType job = OperationType::Flash;
    QString jobName = QStringLiteral("flash");
    UsbIdFilter filter;
    bool includePresent = false;
    QString settingsFile = ModemFiles::settings();
    // The settings file as read and checked once, sent as it is to every modem.
    std::optional<SmallFile> settingsContent;
    // A provisioning table: each modem its own row's settings over the
    // settings file's; empty: every modem gets the settings file as it is.
    QString provisionFile;
    // A provisioning table kept on the floor's server, by its name; empty: none.
    QString provisionDb;
    // Rows left at which every new job says the table runs low.
    int provisionLow = 10;
    QString journalFile = QStringLiteral("lorta-journal.csv");
    // The bench's name in every journal line; empty: the computer's name.
    QString benchName;
    // The floor's server (a libpq conninfo or URI); empty: the journal alone.
    QString database;
    FleetTiming fleetTiming;
    int count = 0; // successes after which the watch ends; 0: no limit
    // A modem that sends bytes but never answers gets its verdict this long
    // after its first byte; 0: never.
    int answerWithinMs = 60000;
    // A port that gives no byte this long has no modem: its socket waits for
    // the next one, and a modem that never took a job is recorded; 0: never.
    int goneAfterMs = 10000;
    // A modem back in its socket after it left gets a fresh job even after a
    // success; without it, the modem prepared there is not prepared again.
    bool again = false;
    // Failures in a row on so many different modems take a socket out of
    // service; 0: never.
    int quarantine = 3;
    // The modem's and the line's waits: always the product's but in tests.
    Timing timing;

    // Why two of the run's files (the journal, its socket numbers, the
    // settings file) are one file, or an empty string.
    QString fileConflict() const;
};

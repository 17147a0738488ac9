#pragma once

#include "session/operationtype.h"
#include "usbidfilter.h"

#include <QString>

// What a watch does: which job on every matching modem, where it records them.
struct WatchOptions
{
    OperationType job = OperationType::Flash;
    QString jobName = QStringLiteral("flash");
    UsbIdFilter filter;
    bool includePresent = false;
    QString settingsFile = QStringLiteral("settings.ini");
    QString journalFile = QStringLiteral("lorta-journal.csv");
    int count = 0; // successes after which the watch ends; 0: no limit
};

#pragma once

#include <QMetaType>

// The job whose answers the session is waiting for.
enum class OperationType
{
    None,          // answers are ignored
    PresenceCheck, // the idle check while the port is open
    ReadSettings,
    LoadSettings,
    Flash,
    Clear,
};

Q_DECLARE_METATYPE(OperationType)

#include "watchoptions.h"

#include "runfiles.h"
#include "socketnumbers.h"

QString WatchOptions::fileConflict() const
{
    return RunFiles::conflict(
        {{QStringLiteral("--settings"), settingsFile},
         {QStringLiteral("--journal"), journalFile},
         {QStringLiteral("номеров гнёзд журнала"), SocketNumbers::fileBeside(journalFile)}});
}

#include "watchoptions.h"

#include "runfiles.h"
#include "socketnumbers.h"
#include "usedrows.h"

QString WatchOptions::fileConflict() const
{
    return RunFiles::conflict(
        {{QStringLiteral("--settings"), settingsFile},
         {QStringLiteral("--journal"), journalFile},
         {QStringLiteral("номеров гнёзд журнала"), SocketNumbers::fileBeside(journalFile)},
         {QStringLiteral("--provision"), provisionFile},
         {QStringLiteral("выданных строк таблицы"),
          provisionFile.isEmpty() ? QString() : UsedRows::fileFor(provisionFile)}});
}

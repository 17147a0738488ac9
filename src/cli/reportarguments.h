#pragma once

#include "line/journalexport.h"

#include <QStringList>
#include <optional>

class QIODevice;

// The command line of "lorta-flash-cli report": journals in, a workbook out;
// or, with --db, the floor's server read (the journals' list then empty).
struct ReportArguments
{
    JournalExport job; // with --db: the range and the workbook, if any
    QString conninfo;
    QString bench; // with --db: one bench only
    bool json = false;
    bool help = false;

    // The arguments after "report"; nullopt with a one-line reason for a usage error.
    static std::optional<ReportArguments> parse(const QStringList &arguments, QString *error);
    static QString usage();
};

// The whole command: the exit status (0 exported, 1 a journal, the server or
// the workbook failed, 2 a usage error).
int runReport(const QStringList &arguments, QIODevice *out, QIODevice *err);

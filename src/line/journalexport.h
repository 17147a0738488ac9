#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

// One export of journals into a workbook, as the command line and the bench
// window run it: every journal read (days outside the range left out), then
// the workbook written. The journals are only read, so a bench may go on
// writing its own meanwhile.
struct JournalExport
{
    QStringList journals;
    QDate from; // a null date leaves that side open
    QDate to;
    QString target;

    struct Outcome
    {
        bool ok = false;
        int exported = 0;
        int skipped = 0; // lines no record could be read from
        QString error;   // a sentence naming the file and what to do
    };

    Outcome run() const;
    // "Выгружено записей: N в файл …" and the lines skipped, if any.
    static QString summary(const Outcome &outcome, const QString &target);
};

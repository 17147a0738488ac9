#pragma once

#include "log/appendjournal.h"

#include <QDateTime>
#include <QList>
#include <QString>

// What the rows of a provisioning table were given to: an append-only file
// beside the table ("<table>.used"), never the engineer's table itself. Each
// line is one row given to one modem before its job, or the end of that job:
// "row;IMEI;time;result", UTF-8 with a BOM and a header, so a spreadsheet
// opens it. A restart reads it back. The file is held for one writer while
// open: two benches on one table would hand one row out twice.
class UsedRows
{
public:
    struct Entry
    {
        int row = 0;
        QString imei;
        QDateTime time;
        QString result; // given(), or the job's result as the journal says it
    };

    static QString fileFor(const QString &tableFile) { return tableFile + QStringLiteral(".used"); }
    // The result of a line written before the job starts.
    static QString given() { return QStringLiteral("выдана"); }

    // Opens (creating it with its header) and holds the file, reads its lines
    // back, and cuts off a last line torn by a power cut (its job never
    // started: the line had not reached the disk). False with a sentence.
    bool open(const QString &fileName, QList<Entry> *entries, QString *error);
    QString fileName() const { return mFile.fileName(); }
    static QByteArray line(const Entry &entry);
    // Appends one line and syncs it to the disk; false with the reason. Touches
    // only the open file: another thread may call it while nothing else uses it.
    bool writeLine(const QByteArray &line, QString *reason);
    // "Не удалось записать …: " and the reason.
    QString writeFailure(const QString &reason) const;

private:
    bool readBack(QList<Entry> *entries, QString *error);

    AppendJournal mFile;
};

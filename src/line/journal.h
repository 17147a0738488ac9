#pragma once

#include "journalrecord.h"
#include "log/appendjournal.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <functional>
#include <optional>

// The production journal: one CSV line per modem per job, appended and
// flushed to the disk when the job ends, never rewritten. UTF-8 with a BOM
// when created, ";" between fields and CR LF, so that Excel with Russian
// settings opens it as columns: the time in the form a spreadsheet takes for a
// date-time, the version with its "v" so it never becomes a date. It also
// remembers which IMEIs were flashed successfully today, to warn about a modem
// flashed twice.
//
// Lines of two layouts never share a file: a file at the journal's name with
// another header is left as it is and the journal goes on in one beside it
// ("lorta-journal-2.csv"), the same one at every start. Today's lines of an
// older file there, and of the files beside it that an earlier layout's
// journal went on in, are still read back, their fields found by the names
// in their header.
//
// One journal has one writer: the file is held for this journal alone while
// it is open, and a second bench on it is refused. Every line goes into the
// file found at the journal's name: one renamed, replaced or deleted meanwhile
// is left alone and a new one started there, one emptied gets its header
// again, and a line that does not go in whole is cut off again, so the file
// holds whole lines only.
class Journal
{
public:
    using Clock = std::function<QDateTime()>;
    // The fields of a line, in the file's order.
    enum Column
    {
        ColumnTime,
        ColumnBench,
        ColumnSocket,
        ColumnPort,
        ColumnSerialNumber,
        ColumnImei,
        ColumnJob,
        ColumnResult,
        ColumnStep,
        ColumnText,
        ColumnSeconds,
        ColumnVersion,
        ColumnSettingsFile,
        ColumnTableRow, // the provisioning table's row; empty without a table
        ColumnSettingsHash,
        ColumnFileHashes,
        ColumnRecordId,
        ColumnCount
    };

    Journal();
    void setClock(Clock clock) { mClock = std::move(clock); }
    void setVersion(const QString &version) { mVersion = version; }
    // The bench's name in every line; empty: the computer's name.
    void setBench(const QString &name);

    // Opens for appending (creating it with the BOM and the header) and holds
    // it; false with a reason.
    bool open(const QString &fileName, QString *error);
    void close() { mFile.close(); }
    // The file really written: the journal's name, or the one beside it.
    QString fileName() const { return mFileName; }
    // Why the lines go into a file beside the journal's name, for the operator; or empty.
    QString openNote() const { return mOpenNote; }
    // Writes and flushes one line; false with a reason when it did not reach the file.
    bool append(const JournalRecord &record, QString *error);
    // append() in its parts, for an owner that leaves the disk to another
    // thread: the line with its time, the write, then the note of a success.
    QDateTime now() const { return mClock(); }
    QByteArray line(const JournalRecord &record, const QDateTime &time) const;
    // Touches only the open file: another thread may call it while nothing else uses the file.
    // False with the reason ("диск заполнен"); notes: what was found and done
    // about the file on the way, for the operator.
    bool writeLine(const QByteArray &bytes, QString *reason, QStringList *notes = nullptr);
    // "Не удалось записать в журнал …: " and the reason.
    QString writeFailure(const QString &reason) const;
    void noteWritten(const JournalRecord &record, const QDateTime &time);
    // "Модем с IMEI … уже прошит сегодня в hh:mm (гнездо N)", or empty.
    QString duplicateWarning(const QString &imei) const;
    // Today's lines (per the clock), read on open and noted since, in the
    // file's order; only the socket, the result, the IMEI, the text and the
    // time are filled.
    QList<JournalRecord> todaysRecords() const;

    // A column's name in the header, by which readers find it.
    static QString columnName(Column column);
    static QByteArray header();
    QByteArray line(const JournalRecord &record) const;
    // The fields of one line as line() writes them (quotes undone).
    static QStringList splitLine(const QString &line);
    // A line's time as written now, or as an older journal wrote it; invalid otherwise.
    static QDateTime timeFromText(const QString &text);
    // The journal's name and the files beside it that hold its later lines
    // (started there when the name held another layout): those of this
    // layout or of one of this journal's earlier layouts.
    static QStringList withBesideFiles(const QString &fileName);

private:
    // Where the fields read back are in a line of one layout.
    struct Layout
    {
        int time;
        int socket;
        int imei;
        int job;
        int result;
        int text;   // -1: a layout without one
        int needed; // a line with fewer fields than this is not read
    };
    struct ReadBack
    {
        QString fileName;
        Layout layout;
    };
    struct Success
    {
        QDateTime time;
        int socket = 0;
    };
    struct Dated
    {
        QDate date;
        JournalRecord record;
    };
    bool chooseFile(const QString &fileName, QString *error);
    bool openFile(QString *error);
    bool startWholeLines(QString *reason);
    void readRecent();
    static std::optional<Layout> layoutOf(const QString &fileName);
    void readFile(const QString &fileName, const Layout &layout, const QDate &today);
    void readFields(const QStringList &fields, const Layout &layout, const QDate &today);
    QString versionText() const;
    void noteSuccess(const QString &imei, const QDateTime &time, int socket);
    void noteDated(const JournalRecord &record, const QDate &date);

    AppendJournal mFile;
    QString mFileName;
    // The older files whose lines are read back, oldest first: the one at the
    // journal's name, then those beside it that the journal went on in.
    QList<ReadBack> mReadBack;
    QString mOpenNote;
    QString mBench;
    qint64 mWrittenSize = 0; // the file's size after this journal's last line
    Clock mClock;
    QString mVersion;
    QHash<QString, Success> mSuccesses; // the latest success of each IMEI
    QList<Dated> mListRecent;           // the latest day's lines: socket, result, IMEI
};

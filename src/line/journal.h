#pragma once

#include "journalrecord.h"
#include "log/appendjournal.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <functional>

// The production journal: one CSV line per modem per job, appended and
// flushed to the disk when the job ends, never rewritten. UTF-8 with a BOM
// when created, ";" between fields and CR LF, so that Excel with Russian
// settings opens it as columns. It also remembers which IMEIs were flashed
// successfully today, to warn about a modem flashed twice.
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

    Journal();
    void setClock(Clock clock) { mClock = std::move(clock); }
    void setVersion(const QString &version) { mVersion = version; }

    // Opens for appending (creating it with the BOM and the header) and holds
    // it; false with a reason.
    bool open(const QString &fileName, QString *error);
    void close() { mFile.close(); }
    QString fileName() const { return mFileName; }
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

    static QByteArray header();
    QByteArray line(const JournalRecord &record) const;
    // The fields of one line as line() writes them (quotes undone).
    static QStringList splitLine(const QString &line);

private:
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
    bool openFile(QString *error);
    bool startWholeLines(QString *reason);
    void readRecent();
    void readFields(const QStringList &fields, const QDate &today);
    void noteSuccess(const QString &imei, const QDateTime &time, int socket);
    void noteDated(const JournalRecord &record, const QDate &date);

    AppendJournal mFile;
    QString mFileName;
    qint64 mWrittenSize = 0; // the file's size after this journal's last line
    Clock mClock;
    QString mVersion;
    QHash<QString, Success> mSuccesses; // the latest success of each IMEI
    QList<Dated> mListRecent;           // the latest day's lines: socket, result, IMEI
};

#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <optional>

// One modem's line in the journal: its job's end, or why it had none.
struct JournalRecord
{
    enum class Result
    {
        Success,
        Failure,
        Interrupted,
        Unplugged,
        OpenFailed,     // the port did not open: the text is the hint's reason
        NoAnswer,       // bytes, but never five answers in a row: the text says what came
        AlreadyFlashed, // its script runs: it answers no command
        SocketDisabled, // no modem's: failures in a row took the socket out; the text is why
        NoTableRow      // no job: the provisioning table has no row for it; the text says why
    };
    // The journal reads results back by their text up to this one: a result added after it
    // becomes the last.
    static constexpr Result lastResult = Result::NoTableRow;

    int socket = 0;
    QString port;
    QString serialNumber; // the adapter's
    QString imei;         // empty when the modem did not give a valid one
    QString job;          // "flash", "load-settings"
    Result result = Result::Failure;
    QString step; // where a failed job stopped: the last command or file
    QString text; // the job's own end text
    double seconds = 0;
    QStringList fileHashes; // "name:sha256" of each file written into the modem
    // The local settings file sent to the modem: its name without the folder and the
    // SHA-256 of the bytes sent, never their values; both empty when none were sent.
    QString settingsFile;
    QString settingsHash;
    // The provisioning table's row the settings were composed from (its line
    // in the table); 0 without a table.
    int tableRow = 0;
    QString recordId; // the line's own id, made on the bench; the journal makes one when empty
    QDateTime time;   // when its line was written; filled where lines are read back

    static QString resultText(Result result);
    // The result whose text this is; none for a text no result has.
    static std::optional<Result> resultFromText(const QString &text);
};

Q_DECLARE_METATYPE(JournalRecord)

#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// Reads production journals back as typed rows, for a report. Columns are
// found by their header's names, so journals of the earlier layouts (no bench,
// no settings columns, the time with a "T", the version without its "v"; no
// table row) read alike; a column a file lacks stays empty. A line that cannot
// be read (no header before it, a field too many or too few, no time) is
// skipped and counted. It never writes the journal.
class JournalReader
{
public:
    struct Row
    {
        QDateTime time;
        QString bench;
        std::optional<int> socket;
        QString port;
        QString serialNumber; // the adapter's
        QString imei;
        QString job;
        QString result;
        QString step;
        QString text;
        std::optional<double> seconds;
        QString version;
        QString settingsName;
        std::optional<int> tableRow; // the provisioning table's row the settings came from
        QString settingsSha256;
        QString fileHashes;
        QString recordId;
    };

    // Days outside [from, to] are left out; a null date leaves that side open.
    void setRange(const QDate &from, const QDate &to);
    // Appends the rows of one file; false with a sentence naming the file when
    // it cannot be read or holds no journal header.
    bool read(const QString &fileName, QString *error);
    // Every file's rows, in the order of their times (a line's order among equal times kept).
    QList<Row> rows() const;
    int skipped() const { return mSkipped; }

    // The time as either layout writes it, as UTC (the journal names no zone);
    // invalid when it is neither.
    static QDateTime parseTime(const QString &text);

private:
    struct Columns;
    bool inRange(const QDate &day) const;

    QDate mFrom;
    QDate mTo;
    QList<Row> mRows;
    int mSkipped = 0;
};

#pragma once

#include "line/journalreader.h"
#include "pglink.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

class FleetConnection;

// The floor's figures as the server's views give them, for a range of days
// and perhaps one bench, read by a program that may wait for them (the
// command line): each call runs an event loop of its own until the server
// answers. Every value from outside goes in as a bound parameter.
class FleetReport
{
public:
    struct Range
    {
        QDate from; // a null date leaves that side open
        QDate to;
        QString bench; // empty: every bench
    };
    struct Yield // one socket's day on one bench
    {
        QDate day;
        QString bench;
        int socket = 0;
        qint64 success = 0;
        qint64 failed = 0;
        qint64 alreadyFlashed = 0;
    };
    struct Failure // one reason over the range
    {
        QString result;
        QString step;
        qint64 records = 0;
    };
    struct RowsLeft // one provisioning table
    {
        QString table;
        qint64 rows = 0;
        qint64 used = 0;
        qint64 left = 0;
    };
    struct PreparedTwice
    {
        QString imei;
        qint64 successes = 0;
        qint64 benches = 0;
        QString benchNames;
        QDateTime firstAt; // local time
        QDateTime lastAt;
    };
    struct Figures
    {
        QList<Yield> yield; // by day, bench, socket
        QList<Failure> failures;
        QList<RowsLeft> rowsLeft;
        QList<PreparedTwice> preparedTwice;
    };

    explicit FleetReport(FleetConnection *connection) : mConnection(connection) {}

    // The server reached and its schema this tool's (made when missing); empty
    // when so, else the sentence to show: "База недоступна: …" when the server
    // cannot be reached, the schema's own refusal otherwise.
    QString prepare();
    bool readFigures(const Range &range, Figures *figures, QString *error);
    // The range's records as the journal's rows, in the order they were written.
    bool readRecords(const Range &range, QList<JournalReader::Row> *rows, QString *error);

private:
    std::optional<QList<QStringList>> ask(const PgLink::Statement &statement, QString *error);

    FleetConnection *mConnection;
};

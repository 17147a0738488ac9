#pragma once

#include "line/rowdesk.h"
#include "pglink.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>

class FleetConnection;

// Hands out the rows of a provisioning table kept on the floor's server, so
// that every bench of the floor draws from the one table. Each reservation is
// one statement that locks the row it gives (rows another bench is taking
// meanwhile are skipped) and binds it to the modem's IMEI for good; the rows
// used are read from the benches' records. While the server does not answer
// the modem waits and the reservation is asked again: a row is never given
// from anything but the server.
class FleetDesk : public RowDesk
{
    Q_OBJECT

public:
    struct TableInfo
    {
        QString name;
        int rows = 0;
        int left = 0;
    };
    using Opened = std::function<void(const QString &error)>; // empty: ready
    using Listed = std::function<void(const QList<TableInfo> &tables, const QString &error)>;

    // base: the settings lines each row's cells are composed over; lowMark:
    // the rows left at which every job says so.
    FleetDesk(FleetConnection *connection, const QString &table, const QString &bench,
              const QStringList &base, int lowMark, QObject *parent = nullptr);

    // Makes sure of the schema and that the table is on the server, and reads
    // its rows left; done runs on this object's thread.
    void open(Opened done);
    // The server's tables with their rows and rows left, by name.
    static void listTables(FleetConnection *connection, QObject *context, Listed done);

    void request(const QString &imei, QObject *context, Done done) override;
    // Nothing to write: the record of the job tells the server. The rows left
    // are read again, this job's success counted before its record arrives.
    void noteResult(int row, const QString &imei, JournalRecord::Result result) override;

    int left() const override { return mLeft; }
    bool low() const override { return mLeft <= mLowMark; }
    QString leftText() const override;
    // Reservations not answered yet, those waiting for the server among them.
    int pending() const override { return mPending; }
    QString tableName() const override { return mTable; }

    static QString waitingText() { return QStringLiteral("База недоступна: ждём строку таблицы"); }
    static QString missingText(const QString &table);

private:
    struct Request
    {
        QString imei;
        QPointer<QObject> context;
        Done done;
        bool waitingSaid = false;
    };

    void reserve(const std::shared_ptr<Request> &request);
    void answered(const std::shared_ptr<Request> &request, const PgLink::Answer &answer);
    Grant grantFor(const QStringList &fields, const QString &imei) const;
    void finish(const std::shared_ptr<Request> &request, const Grant &grant);
    void refreshLeft();
    void setLeft(int left);
    void checkExhausted();
    PgLink::Statement leftStatement() const;

    FleetConnection *mConnection;
    QString mTable;
    QString mBench;
    QStringList mListBase;
    int mLowMark;
    int mLeft = 0;
    int mPending = 0;
    QSet<int> mSetSucceeded; // rows whose job succeeded here, their records maybe not in yet
    bool mRefreshRunning = false;
    bool mRefreshAgain = false;
    bool mExhaustedSaid = false;
};

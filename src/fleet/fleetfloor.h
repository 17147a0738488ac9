#pragma once

#include "fleetoutbox.h"
#include "fleettiming.h"

#include <QDateTime>
#include <QObject>
#include <functional>

class FleetConnection;

// A bench's ties to the floor's server: its journal's records forwarded (one
// connection), and the questions a job waits on, whether an IMEI was prepared
// on any bench and the rows of a table kept there (another, so a slow insert
// never holds a modem up).
class FleetFloor : public QObject
{
    Q_OBJECT

public:
    struct Prepared
    {
        bool answered = false; // false: the server did not answer in time
        QString bench;         // empty: prepared on no bench
        QDateTime time;
        QString reason; // why it did not answer
    };
    using PreparedDone = std::function<void(const Prepared &)>;

    FleetFloor(const QString &conninfo, const FleetTiming &timing, QObject *parent = nullptr);

    // Starts forwarding the journal's lines; false with a reason (a conninfo
    // that carries a password, the confirmed file held by another bench).
    bool open(const QString &journalFile, QString *error);
    // A line just written to the journal.
    void recordWritten(const QByteArray &line) { mOutbox->add(line); }
    // Whether a modem with this IMEI was flashed successfully on any bench,
    // asked with the short limit; done on this object's thread.
    void askPrepared(const QString &imei, QObject *context, PreparedDone done);
    // "Модем с IMEI … уже прошит: Стенд 3, 08.12 14:02".
    static QString preparedWarning(const QString &imei, const Prepared &prepared);
    // The journal's check instead, saying the server did not answer.
    static QString localWarning(const QString &localText);

    // "База недоступна: N записей ждут отправки — why"; empty while it takes them.
    QString statusText() const { return mOutbox->statusText(); }
    int waiting() const { return mOutbox->waiting(); }
    bool idle() const { return mOutbox->idle(); }
    FleetConnection *queries() const { return mQueries; }

signals:
    void signal_changed();
    void signal_problem(QString text);

private:
    QString mConninfo;
    FleetConnection *mRecords;
    FleetConnection *mQueries;
    FleetOutbox *mOutbox;
};

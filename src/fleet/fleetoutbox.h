#pragma once

#include "line/workerthread.h"
#include "log/appendjournal.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

class FleetConnection;

// The journal's records on their way to the floor's server: the journal on
// the disk is written first and stays the record; each of its lines goes to
// the server by its own id, in the journal's order, and once the server has
// it the id is added to the confirmed file beside the journal. What is not
// confirmed is sent again, after a failure and after a restart; the server
// keeps each id once, so nothing is lost and nothing doubled. The disk is left
// to a thread of its own, the server to the connection's.
class FleetOutbox : public QObject
{
    Q_OBJECT

public:
    explicit FleetOutbox(FleetConnection *connection, QObject *parent = nullptr);

    // The journal's lines not yet confirmed go out, read from the file; false
    // with a reason when the confirmed file cannot be held by this bench alone.
    bool open(const QString &journalFile, QString *error);
    // A line just written to the journal, as it is in the file.
    void add(const QByteArray &line);

    int waiting() const { return mListQueue.size() + mPendingLines; }
    bool available() const { return mReason.isEmpty(); }
    // "База недоступна: N записей ждут отправки — why"; empty while the server takes them.
    QString statusText() const;
    // Nothing read, sent or written is on its way: for a run's end.
    bool idle() const;
    static QString confirmedFileFor(const QString &journalFile);

signals:
    // waiting() or available() changed.
    void signal_changed();
    // The confirmed file was not written: the records are on the server, and
    // would be sent once more after a restart.
    void signal_problem(QString text);

private:
    struct Pending
    {
        QString id;
        QByteArray json; // the record as the server takes it
    };
    static QList<Pending> unconfirmed(const QByteArray &journal, const QByteArray &confirmed);
    static bool toPending(const QByteArray &line, Pending *pending);
    void queue(const QList<Pending> &records);
    void sendNext();
    void slot_batch_answered(const QList<Pending> &batch, bool ok, const QString &error);
    void confirm(const QList<Pending> &batch);
    void setReason(const QString &reason);

    FleetConnection *mConnection;
    QList<Pending> mListQueue;
    QSet<QString> mSetQueued;     // ids queued or confirmed in this run
    QList<QByteArray> mListEarly; // lines added before the file was read
    bool mRead = false;
    bool mSending = false;
    bool mSchemaReady = false;
    int mPendingLines = 0; // lines read from the file, not yet queued
    QString mReason;       // why the server does not take the records
    QTimer mTimerRetry;
    AppendJournal mConfirmed;
    // Declared last, so destroyed first: its tasks use the confirmed file.
    WorkerThread mDisk{QStringLiteral("FleetOutbox")};
};

#pragma once

#include "fleettiming.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

struct pg_conn;
class QSocketNotifier;

// One connection to the server, used without ever waiting on it: libpq's
// asynchronous calls driven by socket notifiers on the thread that owns the
// link. Work is queued and runs one piece at a time, in order; a piece of
// several statements is one transaction. A connection that fails, or work
// that outlasts its limit, drops the connection and fails everything queued
// with the reason; the next piece connects again.
class PgLink : public QObject
{
    Q_OBJECT

public:
    struct Statement
    {
        QByteArray sql;
        QList<QByteArray> params; // a null QByteArray is SQL's NULL
    };
    struct Answer
    {
        bool ok = false;
        QString error;           // in Russian, with the server's own words
        QByteArray sqlState;     // the server's error code, when it gave one
        QList<QStringList> rows; // the last statement's, as text; NULL is a null QString
    };
    using Done = std::function<void(const Answer &)>;

    PgLink(const QString &conninfo, const FleetTiming &timing, QObject *parent = nullptr);
    ~PgLink() override;

    void run(const QList<Statement> &statements, std::chrono::milliseconds limit, Done done);
    bool connected() const { return mState == State::Ready || mState == State::Busy; }

    // The conninfo's fault before any connection is tried: not one libpq
    // reads, or one that carries a password; empty when none.
    static QString conninfoFault(const QString &conninfo);
    // A libpq message told in Russian, with its own first line after it.
    static QString reason(const QString &libpqMessage);

signals:
    void signal_connected();
    void signal_lost(QString reason);

private:
    enum class State
    {
        Closed,
        Connecting,
        Ready,
        Busy
    };
    struct Work
    {
        QList<Statement> statements; // BEGIN and COMMIT around several
        std::chrono::milliseconds limit;
        Done done;
        int next = 0;
        Answer answer;
    };

    void startConnecting();
    void pollConnecting();
    void watchSocket();
    void slot_socket_activated();
    void startNext();
    bool sendCurrent();
    void readResults();
    void finishStatement(Answer statementAnswer);
    void fail(const QString &reason);
    void dropNotifiers();
    void dropConnection();

    QString mConninfo;
    FleetTiming mTiming;
    pg_conn *mConn = nullptr;
    State mState = State::Closed;
    int mSocket = -1;
    QSocketNotifier *mNotifierRead = nullptr;
    QSocketNotifier *mNotifierWrite = nullptr;
    QTimer mTimerLimit;
    QTimer mTimerTick;
    QList<Work> mListWork;   // the first is the one running once Busy
    Answer mAnswerStatement; // the statement's answer as it comes
    bool mRollbackNeeded = false;
    bool mConnectWantsWrite = false;
};

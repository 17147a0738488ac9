#pragma once

#include "protocol/timing.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <functional>

class QTimer;

// The GUI side of the command hand-over. The worker takes one command at a
// time and refuses while it is busy; a job's command must then be handed over
// later (never lost, never twice), from the event loop, so the GUI thread
// never waits. It also tells which answers belong to the running operation:
// the worker answers every command it took exactly once and in order, so an
// answer that arrives before the operation's first command was taken is the
// answer to an older command.
class CommandSender : public QObject
{
    Q_OBJECT

public:
    using HandOver = std::function<bool(const QByteArray &command, int wait)>;
    enum class Delivery
    {
        Droppable, // dropped when the worker is busy (the periodic presence command)
        Guaranteed // retried until the worker takes it
    };

    // A refused hand-over is tried again every retryInterval.
    CommandSender(HandOver handOver, Timing::Ms retryInterval, QObject *parent = nullptr);

    void send(const QByteArray &command, int wait, Delivery delivery);
    // Drops the commands still waiting for the worker.
    void cancel();
    // A new port session: the worker holds no command and owes no answer.
    void resetSession();
    // Answers to commands taken before the next one taken are not the new operation's.
    void beginOperation();
    // To be called once for every answer the worker emits; false for a stale answer.
    bool takeAnswer();
    bool isRetrying() const { return !mQueue.isEmpty(); }

signals:
    void signal_handedOver(QByteArray command);

private slots:
    void slot_mTimerRetry_timeout();

private:
    struct Pending
    {
        QByteArray command;
        int wait;
    };
    bool tryHandOver(const Pending &pending);

    HandOver mHandOver;
    QTimer *mTimerRetry;
    QList<Pending> mQueue;
    quint64 mTaken = 0;
    quint64 mAnswered = 0;
    quint64 mFirstAnswerOfOperation = 0;
    bool mAwaitingFirstCommand = false;
};

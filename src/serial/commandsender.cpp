#include "commandsender.h"

#include <QTimer>

// An exchange holds the worker for its answer delay, so a retry every few
// milliseconds keeps the delay short without waking the GUI thread needlessly.
CommandSender::CommandSender(HandOver handOver, Timing::Ms retryInterval, QObject *parent)
    : QObject(parent), mHandOver(std::move(handOver)), mTimerRetry(new QTimer(this))
{
    mTimerRetry->setInterval(retryInterval);
    connect(mTimerRetry, &QTimer::timeout, this, &CommandSender::slot_mTimerRetry_timeout);
}

void CommandSender::send(const QByteArray &command, int wait, Delivery delivery)
{
    const Pending pending{command, wait};
    // Keep the order: nothing overtakes a command that is still waiting.
    if (mQueue.isEmpty() && tryHandOver(pending))
        return;
    if (delivery == Delivery::Droppable)
        return;
    mQueue.append(pending);
    mTimerRetry->start();
}

void CommandSender::cancel()
{
    mQueue.clear();
    mTimerRetry->stop();
}

void CommandSender::resetSession()
{
    cancel();
    mTaken = 0;
    mAnswered = 0;
    mFirstAnswerOfOperation = 0;
    mAwaitingFirstCommand = false;
}

void CommandSender::beginOperation()
{
    mAwaitingFirstCommand = true;
}

bool CommandSender::takeAnswer()
{
    ++mAnswered;
    return !mAwaitingFirstCommand && mAnswered >= mFirstAnswerOfOperation;
}

void CommandSender::slot_mTimerRetry_timeout()
{
    while (!mQueue.isEmpty() && tryHandOver(mQueue.first()))
        mQueue.removeFirst();
    if (mQueue.isEmpty())
        mTimerRetry->stop();
}

bool CommandSender::tryHandOver(const Pending &pending)
{
    if (!mHandOver(pending.command, pending.wait))
        return false;
    ++mTaken;
    if (mAwaitingFirstCommand) {
        mAwaitingFirstCommand = false;
        mFirstAnswerOfOperation = mTaken;
    }
    emit signal_handedOver(pending.command);
    return true;
}

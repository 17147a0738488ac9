#include "watchrun.h"

#ifndef LORTA_VERSION
#define LORTA_VERSION ""
#endif

WatchRun::WatchRun(const WatchOptions &options, const PortLister &lister, QObject *parent)
    : QObject(parent), mOptions(options), mWatcher(new PortWatcher(lister, this))
{
    qRegisterMetaType<JournalRecord>();
    mWatcher->setFilter(options.filter);
    mWatcher->setIncludePresent(options.includePresent);
    mJournal.setVersion(QStringLiteral(LORTA_VERSION));
    connect(mWatcher, &PortWatcher::signal_portAdded, this,
            &WatchRun::slot_mWatcher_signal_portAdded);
    connect(mWatcher, &PortWatcher::signal_portRemoved, this,
            &WatchRun::slot_mWatcher_signal_portRemoved);
}

bool WatchRun::start(QString *error)
{
    if (!mJournal.open(mOptions.journalFile, error))
        return false;
    if (!mNumbers.load(SocketNumbers::fileBeside(mOptions.journalFile), error))
        return false;
    mClock.start();
    mWatcher->start();
    return true;
}

double WatchRun::modemsPerHour() const
{
    const double hours = mClock.isValid() ? mClock.elapsed() / 3600000.0 : 0;
    return hours > 0 ? (mSucceeded + mFailed) / hours : 0;
}

void WatchRun::stopGracefully()
{
    mAccepting = false;
    mWatcher->stop();
    for (SocketRun *socket : qAsConst(mSockets))
        socket->stopAccepting();
    checkFinished();
}

void WatchRun::stopNow()
{
    mAccepting = false;
    mWatcher->stop();
    for (SocketRun *socket : qAsConst(mSockets))
        socket->stopNow();
    checkFinished();
}

SocketRun *WatchRun::socketFor(const PortEntry &port)
{
    QString problem;
    const int number = mNumbers.numberFor(port.socketKey(), &problem);
    if (!problem.isEmpty())
        emit signal_problem(problem);
    SocketRun *&socket = mSockets[number];
    if (socket)
        return socket;
    socket = new SocketRun(number, mOptions.job, mOptions.jobName, this);
    socket->setSettingsSource(mOptions.settingsFile, mOptions.settingsContent);
    connect(socket, &SocketRun::signal_changed, this, [this](int changed) {
        emit signal_socketChanged(changed);
        // A socket is done before it reports the job that ended there: the watch ends
        // only once that report has been counted and journaled.
        if (!mAccepting)
            QMetaObject::invokeMethod(this, &WatchRun::checkFinished, Qt::QueuedConnection);
    });
    connect(socket, &SocketRun::signal_event, this, &WatchRun::signal_event);
    connect(socket, &SocketRun::signal_logLine, this, &WatchRun::signal_logLine);
    connect(socket, &SocketRun::signal_identified, this, &WatchRun::slot_socket_signal_identified);
    connect(socket, &SocketRun::signal_jobEnded, this, &WatchRun::slot_socket_signal_jobEnded);
    emit signal_socketAdded(number);
    return socket;
}

void WatchRun::slot_mWatcher_signal_portAdded(const PortEntry &port)
{
    if (!mAccepting)
        return;
    SocketRun *socket = socketFor(port);
    emit signal_portAdded(socket->number(), port.name);
    socket->plug(port);
}

void WatchRun::slot_mWatcher_signal_portRemoved(const PortEntry &port)
{
    for (SocketRun *socket : qAsConst(mSockets)) {
        if (socket->port().name == port.name && socket->state() != SocketRun::State::Empty) {
            emit signal_portRemoved(socket->number(), port.name);
            socket->unplug();
        }
    }
}

void WatchRun::slot_socket_signal_identified(int number, const QString &imei)
{
    const QString warning =
        mOptions.job == OperationType::Flash ? mJournal.duplicateWarning(imei) : QString();
    emit signal_identified(number, imei);
    if (warning.isEmpty())
        return;
    emit signal_duplicate(number, warning);
    emit signal_event(number, mSockets.value(number)->port().name, warning);
}

// A job that is over but not in the journal must not be followed by others:
// the watch stops taking modems and says so.
void WatchRun::slot_socket_signal_jobEnded(const JournalRecord &record)
{
    if (record.result == JournalRecord::Result::Success)
        ++mSucceeded;
    else
        ++mFailed;
    QString error;
    if (!mJournal.append(record, &error)) {
        mJournalFailed = true;
        emit signal_problem(error);
        emit signal_jobEnded(record);
        stopGracefully();
        return;
    }
    emit signal_jobEnded(record);
    if (mOptions.count > 0 && mSucceeded >= mOptions.count)
        stopGracefully();
}

void WatchRun::checkFinished()
{
    if (mAccepting || mFinished)
        return;
    for (SocketRun *socket : qAsConst(mSockets)) {
        if (socket->busy())
            return;
    }
    mFinished = true;
    emit signal_finished();
}

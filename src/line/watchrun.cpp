#include "watchrun.h"

#include "fleet/fleetdesk.h"
#include "protocol/modemtext.h"
#include "settings/settingsfile.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>
#include <memory>

#ifndef LORTA_VERSION
#define LORTA_VERSION ""
#endif

WatchRun::WatchRun(const WatchOptions &options, const PortLister &lister, QObject *parent)
    : QObject(parent), mOptions(options), mWatcher(new PortWatcher(lister, options.timing, this)),
      mHealth(options.quarantine)
{
    qRegisterMetaType<JournalRecord>();
    mWatcher->setFilter(options.filter);
    mWatcher->setIncludePresent(options.includePresent);
    mJournal.setVersion(QStringLiteral(LORTA_VERSION));
    mJournal.setBench(options.benchName);
    connect(mWatcher, &PortWatcher::signal_portAdded, this,
            &WatchRun::slot_mWatcher_signal_portAdded);
    connect(mWatcher, &PortWatcher::signal_portRemoved, this,
            &WatchRun::slot_mWatcher_signal_portRemoved);
    connect(mWatcher, &PortWatcher::signal_presentSkipped, this, &WatchRun::signal_presentSkipped);
}

bool WatchRun::start(QString *error)
{
    if (!mJournal.open(mOptions.journalFile, error))
        return false;
    if (!mNumbers.load(SocketNumbers::fileBeside(mOptions.journalFile), error))
        return false;
    if (!mOptions.database.isEmpty() && !openFloor(error))
        return false;
    if (!mOptions.provisionFile.isEmpty() && !openDesk(error))
        return false;
    if (!mOptions.provisionDb.isEmpty())
        openFleetDesk();
    mHealth.restore(mJournal.todaysRecords()); // a restart keeps today's counts
    // Said once the front end has shown its start, so that its start does not hide it.
    const QString note = mJournal.openNote();
    if (!note.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, note] { emit signal_problem(note); }, Qt::QueuedConnection);
    mClock.start();
    mWatcher->start();
    return true;
}

QStringList WatchRun::baseSettings() const
{
    return mOptions.settingsContent ? settingsLines(*mOptions.settingsContent)
                                    : readSettingsLines(mOptions.settingsFile);
}

// The journal's lines, unsent ones of earlier runs too, go to the server as well.
bool WatchRun::openFloor(QString *error)
{
    mFloor = new FleetFloor(mOptions.database, mOptions.fleetTiming, this);
    if (!mFloor->open(mJournal.fileName(), error))
        return false;
    connect(mFloor, &FleetFloor::signal_changed, this, [this] {
        emit signal_fleetChanged();
        checkFinished();
    });
    connect(mFloor, &FleetFloor::signal_problem, this, &WatchRun::signal_problem);
    return true;
}

// The table on the server is looked for, and its rows counted, while the watch
// starts: a modem plugged in meanwhile waits for its row anyway.
void WatchRun::openFleetDesk()
{
    const QString bench =
        mOptions.benchName.isEmpty() ? QSysInfo::machineHostName() : mOptions.benchName;
    auto *desk = new FleetDesk(mFloor->queries(), mOptions.provisionDb, bench, baseSettings(),
                               mOptions.provisionLow, this);
    mDesk = desk;
    connectDesk();
    desk->open([this](const QString &error) {
        QString problem = error;
        if (problem.isEmpty() && mOptions.count > mDesk->left())
            problem = QStringLiteral("В таблице настроек «%1» осталось строк: %2, а модемов "
                                     "задано: %3")
                          .arg(mOptions.provisionDb)
                          .arg(mDesk->left())
                          .arg(mOptions.count);
        emit signal_provisionChanged();
        if (problem.isEmpty())
            return;
        emit signal_provisionProblem(problem);
        stopGracefully();
    });
}

// The table is checked whole and its rows given before are read back; a run
// that could not finish its count with the rows left does not start.
bool WatchRun::openDesk(QString *error)
{
    auto *desk = new ProvisionDesk(this);
    mDesk = desk;
    if (!desk->open(mOptions.provisionFile, baseSettings(), mOptions.provisionLow, error))
        return false;
    if (mOptions.count > mDesk->left()) {
        *error = QStringLiteral("В таблице настроек %1 осталось строк: %2, а модемов задано: %3")
                     .arg(mOptions.provisionFile)
                     .arg(mDesk->left())
                     .arg(mOptions.count);
        return false;
    }
    connectDesk();
    return true;
}

void WatchRun::connectDesk()
{
    connect(mDesk, &RowDesk::signal_leftChanged, this, &WatchRun::signal_provisionChanged);
    connect(mDesk, &RowDesk::signal_exhausted, this, &WatchRun::signal_provisionProblem);
    connect(mDesk, &RowDesk::signal_allWritten, this, &WatchRun::checkFinished);
    // Rows that cannot be given on the disk are given to nobody: the watch stops.
    connect(mDesk, &RowDesk::signal_problem, this, [this](const QString &text) {
        emit signal_provisionProblem(text);
        stopGracefully();
    });
}

QString WatchRun::modemsPerHourText() const
{
    return mYield.perHourText(mClock.isValid() ? mClock.elapsed() : 0);
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
    mFloorAwaited = false;
    mWatcher->stop();
    for (SocketRun *socket : qAsConst(mSockets))
        socket->stopNow();
    checkFinished();
}

SocketRun *WatchRun::socketFor(const PortEntry &port)
{
    bool added = false;
    const int number = mNumbers.assign(port.socketKey(), &added);
    if (added)
        saveNumbers();
    SocketRun *&socket = mSockets[number];
    if (socket)
        return socket;
    socket = new SocketRun(number, mOptions.job, mOptions.jobName, mOptions.timing, this);
    socket->setSettingsSource(mOptions.settingsFile, mOptions.settingsContent);
    socket->setAnswerWithinMs(mOptions.answerWithinMs);
    socket->setGoneAfterMs(mOptions.goneAfterMs);
    socket->setAgain(mOptions.again);
    socket->setProvisioned(mDesk != nullptr);
    connect(socket, &SocketRun::signal_settingsWanted, this,
            &WatchRun::slot_socket_signal_settingsWanted);
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
    // A pulled modem's failure comes at once: its port's absence is looked for
    // at once too, not at the next poll.
    connect(socket, &SocketRun::signal_pullSuspected, mWatcher, &PortWatcher::lookNow,
            Qt::QueuedConnection);
    socket->holdJobs(mLinesPending > 0);
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
    SocketRun *socket = mSockets.value(number);
    QStringList warnings;
    // Two modems that give one IMEI: one of them lies, or one modem is counted twice.
    for (const SocketRun *other : qAsConst(mSockets)) {
        if (other != socket && !imei.isEmpty() && other->imei() == imei &&
            other->state() != SocketRun::State::Empty) {
            const QString same =
                QStringLiteral("тот же IMEI сейчас в гнезде %1").arg(other->number());
            warnings << same;
            socket->addNote(same);
        }
    }
    emit signal_identified(number, imei);
    if (mOptions.job == OperationType::Flash)
        warnDuplicate(number, imei);
    for (const QString &warning : qAsConst(warnings))
        warn(number, warning);
}

// With a server, every bench's records answer, in a short time; without an
// answer, or when the server has none yet, the journal of this bench does.
void WatchRun::warnDuplicate(int number, const QString &imei)
{
    const QString local = mJournal.duplicateWarning(imei);
    if (!mFloor) {
        warn(number, local);
        return;
    }
    mFloor->askPrepared(imei, this, [this, number, imei, local](const FleetFloor::Prepared &found) {
        if (!found.bench.isEmpty())
            warn(number, FleetFloor::preparedWarning(imei, found));
        else if (!found.answered && !local.isEmpty())
            warn(number, FleetFloor::localWarning(local));
        else
            warn(number, local);
    });
}

void WatchRun::warn(int number, const QString &warning)
{
    const SocketRun *socket = mSockets.value(number);
    if (warning.isEmpty() || !socket)
        return;
    emit signal_duplicate(number, warning);
    emit signal_event(number, socket->port().name, warning);
}

// The row is given once its line is on the disk; a socket renumbered or a
// modem gone meanwhile is the socket's own to sort out.
void WatchRun::slot_socket_signal_settingsWanted(int, const QString &imei)
{
    auto *socket = qobject_cast<SocketRun *>(sender());
    if (!mDesk || !socket)
        return;
    mDesk->request(imei, socket, [this, socket, imei](const RowDesk::Grant &grant) {
        if (!grant.waiting.isEmpty()) {
            socket->setWaitingText(imei, grant.waiting);
            emit signal_event(socket->number(), socket->port().name, grant.waiting);
            return;
        }
        if (grant.row == 0) {
            socket->refuseJob(imei, grant.refusal);
            return;
        }
        if (!grant.note.isEmpty())
            emit signal_event(socket->number(), socket->port().name, grant.note);
        socket->giveSettings(imei, grant.settings, grant.row);
    });
}

// The verdict is told at once; the line goes to the writer thread. Until it
// is on the disk no other job starts: a line that cannot be written stops the
// watch before any modem is flashed unrecorded.
void WatchRun::slot_socket_signal_jobEnded(const JournalRecord &given)
{
    const JournalRecord record = recorded(given);
    mCounters.count(record);
    if (mDesk)
        mDesk->noteResult(record.tableRow, record.imei, record.result);
    if (record.result == JournalRecord::Result::Success)
        mYield.noteSuccess(mClock.isValid() ? mClock.elapsed() : 0);
    const QDateTime time = mJournal.now();
    const QByteArray bytes = mJournal.line(record, time);
    Journal *journal = &mJournal;
    auto error = std::make_shared<QString>();
    auto notes = std::make_shared<QStringList>();
    ++mLinesPending;
    holdJobs(true);
    mWriter.post(
        [journal, bytes, error, notes] { journal->writeLine(bytes, error.get(), notes.get()); },
        [this, record, time, bytes, error, notes] {
            journalWritten(record, time, bytes, *error, *notes);
        });
    emit signal_jobEnded(record);
    // Taken out of service once the job that did it is over (its record goes
    // out first): the socket's own record follows, before any other job can start.
    if (mHealth.count(record.socket, record.result, record.imei)) {
        const int number = record.socket;
        QMetaObject::invokeMethod(
            this,
            [this, number] {
                if (SocketRun *socket = mSockets.value(number))
                    socket->takeOutOfService(mHealth.disabledReason(number));
            },
            Qt::QueuedConnection);
    }
}

// The record with what the watch alone knows: which settings went into the
// modem (by name and hash, never their values) and the line's own id.
JournalRecord WatchRun::recorded(const JournalRecord &given) const
{
    JournalRecord record = given;
    record.recordId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString sent = ModemFiles::settings() + QLatin1Char(':');
    for (const QString &hash : given.fileHashes) {
        if (!hash.startsWith(sent))
            continue;
        record.settingsFile = given.tableRow > 0 && mDesk
                                  ? mDesk->tableName()
                                  : QFileInfo(mOptions.settingsFile).fileName();
        record.settingsHash =
            mOptions.settingsContent && given.tableRow == 0
                ? QString::fromLatin1(QCryptographicHash::hash(mOptions.settingsContent->bytes,
                                                               QCryptographicHash::Sha256)
                                          .toHex())
                : hash.mid(sent.size());
    }
    return record;
}

// Each write carries the whole list as it is now, so the last one wins.
void WatchRun::saveNumbers()
{
    const QString fileName = mNumbers.fileName();
    const QByteArray bytes = mNumbers.contents();
    auto problem = std::make_shared<QString>();
    mWriter.post(
        [fileName, bytes, problem] { SocketNumbers::write(fileName, bytes, problem.get()); },
        [this, problem] {
            if (!problem->isEmpty())
                emit signal_problem(*problem);
            checkFinished();
        });
}

bool WatchRun::renumber(int from, int to, QString *error)
{
    SocketRun *socket = mSockets.value(from);
    if (!socket) {
        *error = QStringLiteral("Нет гнезда %1").arg(from);
        return false;
    }
    if (socket->jobRunning()) {
        *error = QStringLiteral("В гнезде %1 идёт задание: номер меняется после него").arg(from);
        return false;
    }
    if (to == from)
        return true;
    if (!mNumbers.renumber(socket->port().socketKey(), to, error))
        return false;
    mSockets.remove(from);
    mSockets.insert(to, socket);
    socket->setNumber(to);
    saveNumbers();
    emit signal_socketRenumbered(from, to);
    return true;
}

bool WatchRun::returnToService(int number)
{
    SocketRun *socket = mSockets.value(number);
    if (!socket || !socket->outOfService())
        return false;
    mHealth.reenable(number);
    socket->returnToService();
    emit signal_event(number, socket->port().name,
                      QStringLiteral("Гнездо %1 снова принимает модемы").arg(number));
    return true;
}

// A job that is over but not in the journal must not be followed by others:
// the watch stops taking modems and says so. The record itself is kept and
// given out whole, never dropped.
void WatchRun::journalWritten(const JournalRecord &record, const QDateTime &time,
                              const QByteArray &line, const QString &error,
                              const QStringList &notes)
{
    --mLinesPending;
    for (const QString &note : notes)
        emit signal_problem(note);
    if (!error.isEmpty()) {
        mJournalFailed = true;
        mUnwritten << line;
        emit signal_problem(mJournal.writeFailure(error));
        emit signal_recordUnwritten(record, line, error);
        stopGracefully();
        return;
    }
    mJournal.noteWritten(record, time);
    if (mFloor)
        mFloor->recordWritten(line);
    JournalRecord written = record;
    written.time = time;
    emit signal_recordWritten(written);
    if (mOptions.count > 0 && mCounters.succeeded >= mOptions.count)
        stopGracefully();
    if (mAccepting && mLinesPending == 0)
        holdJobs(false);
    checkFinished();
}

void WatchRun::holdJobs(bool hold)
{
    for (SocketRun *socket : qAsConst(mSockets))
        socket->holdJobs(hold);
}

void WatchRun::checkFinished()
{
    if (mAccepting || mFinished || mWriter.pending() > 0 || (mDesk && mDesk->pending() > 0))
        return;
    // The records go on to the server while it takes them; one that does not
    // holds nobody up: they wait in the journal for the next run.
    if (mFloor && mFloorAwaited &&
        (!mFloor->idle() || (mFloor->waiting() > 0 && mFloor->statusText().isEmpty())))
        return;
    for (SocketRun *socket : qAsConst(mSockets)) {
        if (socket->busy())
            return;
    }
    mFinished = true;
    emit signal_finished();
}

#include "socketrun.h"

#include "imeiparser.h"
#include "log/logcomposer.h"
#include "openfailurehint.h"
#include "protocol/jobsteps.h"
#include "protocol/modemcommands.h"
#include "protocol/modemfiles.h"
#include "protocol/modemtext.h"
#include "sockettexts.h"

#include <QCryptographicHash>
#include <QFile>

namespace {
// What the record and the tile show of a modem's bytes: enough to tell a
// wrong speed from a script, as one safe line.
constexpr int heardShown = 60;
constexpr int heardKept = 256;
} // namespace

SocketRun::SocketRun(int number, OperationType job, const QString &jobName, const Timing &timing,
                     QObject *parent)
    : QObject(parent), mSession(timing), mNumber(number), mJob(job), mJobName(jobName),
      mTimerPullGrace(new QTimer(this)), mTimerAnswerWithin(new QTimer(this)),
      mTimerSilence(new QTimer(this))
{
    mTimerSilence->setSingleShot(true);
    mTimerSilence->setInterval(0);
    connect(mTimerSilence, &QTimer::timeout, this, &SocketRun::slot_mTimerSilence_timeout);
    mTimerAnswerWithin->setSingleShot(true);
    connect(mTimerAnswerWithin, &QTimer::timeout, this,
            &SocketRun::slot_mTimerAnswerWithin_timeout);
    connect(&mSession, &ModemSession::signal_received, this,
            &SocketRun::slot_mSession_signal_received);
    mTimerPullGrace->setSingleShot(true);
    mTimerPullGrace->setInterval(timing.pullGrace);
    connect(mTimerPullGrace, &QTimer::timeout, this, &SocketRun::slot_mTimerPullGrace_timeout);
    connect(&mSession, &ModemSession::signal_portOpened, this,
            &SocketRun::slot_mSession_signal_portOpened);
    connect(&mSession, &ModemSession::signal_portOpenFailed, this,
            &SocketRun::slot_mSession_signal_portOpenFailed);
    connect(&mSession, &ModemSession::signal_portClosed, this,
            &SocketRun::slot_mSession_signal_portClosed);
    connect(&mSession, &ModemSession::signal_presence, this,
            &SocketRun::slot_mSession_signal_presence);
    connect(&mSession, &ModemSession::signal_queryAnswered, this,
            &SocketRun::slot_mSession_signal_queryAnswered);
    connect(&mSession, &ModemSession::signal_commandSent, this,
            &SocketRun::slot_mSession_signal_commandSent);
    connect(&mSession, &ModemSession::signal_fileStarted, this,
            &SocketRun::slot_mSession_signal_fileStarted);
    connect(&mSession, &ModemSession::signal_progress, this,
            &SocketRun::slot_mSession_signal_progress);
    connect(&mSession, &ModemSession::signal_jobEnded, this,
            &SocketRun::slot_mSession_signal_jobEnded);
    connect(&mSession, &ModemSession::signal_bytesSent, this,
            &SocketRun::slot_mSession_signal_bytesSent);
    connect(&mSession, &ModemSession::signal_logLine, this,
            [this](const QString &line) { emit signal_logLine(mNumber, line); });
}

int SocketRun::stepCount()
{
    return JobStep::Count;
}

void SocketRun::setSettingsSource(const QString &fileName, const std::optional<SmallFile> &content)
{
    mSettingsFile = fileName;
    mSettingsContent = content;
    mSession.setSettingsSource(fileName);
    if (content)
        mSession.setSettingsContent(*content);
}

void SocketRun::setAnswerWithinMs(int ms)
{
    mTimerAnswerWithin->setInterval(ms);
}

void SocketRun::setGoneAfterMs(int ms)
{
    mTimerSilence->setInterval(ms);
}

QString SocketRun::stateText() const
{
    switch (mState) {
    case State::Empty:
        return SocketText::empty();
    case State::Opening:
        return SocketText::opening();
    case State::Waiting:
        if (!mScriptVersion.isEmpty())
            return SocketText::scriptRunning(mScriptVersion);
        return mHeard.isEmpty() ? SocketText::waiting()
                                : SocketText::notAnswering(shownBytes(mHeard));
    case State::Identifying:
        return SocketText::identifying();
    case State::Running:
        return mStep;
    case State::Done:
        return mVerdict.isEmpty() ? SocketText::stopped() : mVerdict;
    case State::OpenFailed:
        return SocketText::openFailed();
    case State::Closing:
        return SocketText::closing();
    }
    return QString();
}

bool SocketRun::busy() const
{
    return mState == State::Opening || mState == State::Waiting || mState == State::Identifying ||
           mState == State::Running || mState == State::Closing;
}

void SocketRun::plug(const PortEntry &port)
{
    if (mState == State::Closing) {
        mNextPort = port; // opened once the last port has closed
        return;
    }
    mPort = port;
    if (mAccepting && !outOfService())
        open();
}

void SocketRun::open()
{
    resetModem();
    setState(State::Opening);
    mSession.openPort(mPort.systemLocation, ModemLine::baudRate);
}

// Nothing of the last modem is the next one's.
void SocketRun::resetModem()
{
    mTimerAnswerWithin->stop();
    mFlashedHere = false;
    mAskedSinceAnswering = false;
    mRechecking = false;
    mVerdict.clear();
    mNotes.clear();
    mImei.clear();
    mIdentified = false;
    mStep.clear();
    mProgress = 0;
    mStepNumber = 0;
    mBytesSent = 0;
    mBytesTotal = 0;
    mBytesFile.clear();
    mHeard.clear();
    mScriptVersion.clear();
    mSettingsAsked = false;
    mWaitingText.clear();
    mSettingsGranted = false;
    mTableRow = 0;
    mJobClock.start(); // a modem without a job is recorded with its time in the socket
}

void SocketRun::unplug()
{
    mNextPort.reset();
    mMemory.noteLeft();
    mTimerSilence->stop();
    if (mState == State::Running)
        endJob(JournalRecord::Result::Unplugged, QStringLiteral("модем отключён"));
    recordSilentModem(); // it leaves before its verdict: the record is written now
    if (mState == State::Closing) {
        mAfterClose = State::Empty;
        return;
    }
    if (mSession.isPortOpen() || mState == State::Opening)
        close(State::Empty);
    else
        setState(State::Empty);
}

void SocketRun::stopAccepting()
{
    mAccepting = false;
    mNextPort.reset();
    recordSilentModem();
    if (mState == State::Opening || mState == State::Waiting || mState == State::Identifying ||
        (mState == State::Done && mSession.isPortOpen()))
        close(State::Done);
}

void SocketRun::stopNow()
{
    mAccepting = false;
    mNextPort.reset();
    recordSilentModem();
    if (mState == State::Running && mTimerPullGrace->isActive())
        endJob(JournalRecord::Result::Failure, mFailureText);
    else if (mState == State::Running)
        endJob(JournalRecord::Result::Interrupted, QStringLiteral("прервано оператором"));
    closeIfOpen();
}

// Closes a port that is open or opening; false when there was none to close.
bool SocketRun::closeIfOpen()
{
    if (mState == State::Closing || (!mSession.isPortOpen() && mState != State::Opening))
        return false;
    close(mState == State::Empty ? State::Empty : State::Done);
    return true;
}

void SocketRun::close(State after)
{
    mTimerSilence->stop();
    mAfterClose = after;
    setState(State::Closing);
    mSession.requestClose();
}

void SocketRun::slot_mSession_signal_portOpened()
{
    if (mState != State::Opening)
        return;
    announce(QStringLiteral("Порт открыт, ждём модем"));
    setState(State::Waiting);
    listenForSilence();
}

void SocketRun::slot_mSession_signal_portOpenFailed()
{
    if (mState == State::Closing) {
        slot_mSession_signal_portClosed(); // nothing was open, nothing to wait for
        return;
    }
    const QString hint = OpenFailureHint().explain(mPort.systemLocation);
    setState(State::OpenFailed);
    announce(QStringLiteral("Ошибка при открытии порта. ") + hint);
    recordWithoutJob(JournalRecord::Result::OpenFailed, hint);
}

void SocketRun::slot_mSession_signal_portClosed()
{
    if (mState != State::Closing)
        return;
    setState(mAfterClose);
    if (mNextPort && mAccepting && !outOfService()) {
        mPort = *mNextPort;
        mNextPort.reset();
        open();
    }
}

// A modem that answers is asked who it is: in a socket waiting for one, and
// in one showing its verdict, where it may be another modem by now.
void SocketRun::slot_mSession_signal_presence(bool connected)
{
    if (!connected) {
        mAskedSinceAnswering = false;
        return;
    }
    if (mState == State::Waiting) {
        mTimerAnswerWithin->stop(); // it answers: what it said before is no verdict
        announce(QStringLiteral("Связь с модемом установлена"));
        setState(State::Identifying);
        identify();
    } else if (mState == State::Done && mAccepting && mSession.isPortOpen() &&
               !mAskedSinceAnswering) {
        mRechecking = true;
        identify();
    }
}

void SocketRun::identify()
{
    mAskedSinceAnswering = true;
    mSession.sendQuery(ModemCommands::imeiQuery(), mSession.timing().answer.imeiQuery);
}

void SocketRun::slot_mSession_signal_queryAnswered(const QByteArray &answer)
{
    const bool recheck = mState == State::Done && mRechecking;
    mRechecking = false;
    if (mState != State::Identifying && !recheck)
        return;
    const std::optional<QString> imei = ImeiParser::parse(answer);
    takeTurn(imei.value_or(QString()), recheck);
}

// What the socket does with the modem that answers: a job, or nothing when
// it is the one prepared here already or the last job's, still in.
void SocketRun::takeTurn(const QString &imei, bool recheck)
{
    const SocketMemory::Turn turn = mMemory.turnFor(imei);
    if (turn == SocketMemory::Turn::SameModem && recheck) {
        keepListening();
        return;
    }
    if (turn == SocketMemory::Turn::Job && recheck)
        resetModem(); // another modem behind the same port
    mImei = imei;
    announce(imei.isEmpty() ? QStringLiteral("IMEI не прочитан") : QStringLiteral("IMEI ") + imei);
    mIdentified = true;
    if (turn != SocketMemory::Turn::Job) {
        mFlashedHere = turn == SocketMemory::Turn::FlashedHere;
        if (mFlashedHere) {
            mVerdict = SocketText::flashedHere(mMemory.successTime());
            announce(mVerdict);
        }
        setState(State::Done);
        keepListening();
        return;
    }
    setState(State::Identifying);
    emit signal_identified(mNumber, mImei);
    if (mState != State::Identifying)
        return; // the watch stopped it meanwhile
    if (!mAccepting) {
        close(State::Done);
        return;
    }
    startWhenReady();
}

// The port stays open and checked: the next modem is found by its answers.
void SocketRun::keepListening()
{
    if (!mAccepting) {
        close(State::Done);
        return;
    }
    mSession.resumePresenceCheck();
    listenForSilence();
}

void SocketRun::takeOutOfService(const QString &reason)
{
    if (outOfService() || mState == State::Running)
        return;
    mOutOfService = reason;
    mNextPort.reset();
    mTimerAnswerWithin->stop();
    JournalRecord record = recordHere(JournalRecord::Result::SocketDisabled);
    record.imei.clear(); // the socket's record, not a modem's
    record.text = reason;
    mVerdict = reason;
    emit signal_jobEnded(record);
    if (!closeIfOpen())
        emit signal_changed(mNumber);
}

// Back in service: a modem still plugged in is taken as a new one.
void SocketRun::returnToService()
{
    if (!outOfService())
        return;
    mOutOfService.clear();
    mMemory.noteLeft();
    if (mState == State::Closing) {
        if (mAfterClose == State::Done)
            mNextPort = mPort; // still plugged in: opened once closed
        return;
    }
    if (mAccepting && !mPort.systemLocation.isEmpty() &&
        (mState == State::Done || mState == State::OpenFailed))
        open();
    else
        emit signal_changed(mNumber);
}

bool SocketRun::canPrepareAgain() const
{
    return mState == State::Done && mAccepting && mSession.isPortOpen() && mIdentified &&
           !outOfService();
}

bool SocketRun::prepareAgain()
{
    if (!canPrepareAgain())
        return false;
    mVerdict.clear();
    mFlashedHere = false;
    mNotes.clear();
    setState(State::Identifying);
    startWhenReady();
    return true;
}

void SocketRun::holdJobs(bool hold)
{
    mJobHeld = hold;
    if (!hold && mState == State::Identifying && mIdentified && mAccepting)
        startWhenReady();
}

// A job starts once its settings are there (a provisioned socket's come for
// each job anew) and no journal line is on its way.
void SocketRun::startWhenReady()
{
    if (mProvisioned && !mSettingsGranted) {
        if (!mSettingsAsked) {
            mSettingsAsked = true;
            emit signal_settingsWanted(mNumber, mImei);
        }
        return;
    }
    if (!mJobHeld)
        beginJob();
}

void SocketRun::setWaitingText(const QString &imei, const QString &text)
{
    if (!mSettingsAsked || mState != State::Identifying || imei != mImei)
        return;
    mWaitingText = text;
    emit signal_changed(mNumber);
}

void SocketRun::giveSettings(const QString &imei, const SmallFile &content, int row)
{
    if (!mSettingsAsked || mState != State::Identifying || imei != mImei)
        return; // the modem went meanwhile: its row stays its own
    mSettingsAsked = false;
    mWaitingText.clear();
    mSettingsGranted = true;
    mTableRow = row;
    mSettingsContent = content;
    mSession.setOwnSettings(content);
    if (mAccepting)
        startWhenReady();
    else
        close(State::Done);
}

void SocketRun::refuseJob(const QString &imei, const QString &text)
{
    if (!mSettingsAsked || mState != State::Identifying || imei != mImei)
        return;
    mSettingsAsked = false;
    mWaitingText.clear();
    announce(text);
    recordWithoutJob(JournalRecord::Result::NoTableRow, text);
    // Not asked again while it stays: only once it has left is it a new modem.
    mMemory.noteJob(mImei, false, QDateTime::currentDateTime());
    setState(State::Done);
    keepListening();
}

void SocketRun::beginJob()
{
    mTimerSilence->stop();
    mFileHashes.clear();
    mJobClock.start();
    mStep = QStringLiteral("запуск");
    mStepNumber = 1;
    mSettingsGranted = false; // a provisioned socket asks again for the next job
    setState(State::Running);
    mSession.startJob(mJob);
}

// The step a failed job stopped at is the last command or file it sent.
void SocketRun::slot_mSession_signal_commandSent(const QByteArray &command)
{
    if (mState != State::Running)
        return;
    mStep = QString::fromLatin1(command).trimmed();
    emit signal_changed(mNumber);
}

// The journal's hash of each file written: the same sources the job reads,
// the built-in scripts and the local settings file.
void SocketRun::slot_mSession_signal_fileStarted(const QString &name, qint64 size)
{
    if (mState != State::Running)
        return;
    mStep = QStringLiteral("файл ") + name;
    mBytesFile = name;
    mBytesSent = 0;
    mBytesTotal = size;
    const bool settings = name == ModemFiles::settings();
    QByteArray bytes;
    if (settings && mSettingsContent) {
        bytes = mSettingsContent->bytes;
    } else {
        QFile file(settings ? mSettingsFile : QStringLiteral(":/files/") + name);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.read(size + 1);
    }
    const QString hash =
        bytes.size() == size
            ? QString::fromLatin1(
                  QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())
            : QStringLiteral("?"); // changed since it was sent: no hash rather than a wrong one
    mFileHashes.append(name + QLatin1Char(':') + hash);
    emit signal_changed(mNumber);
}

void SocketRun::slot_mSession_signal_progress(int step)
{
    if (mState != State::Running)
        return;
    mProgress = qBound(0, step * 100 / JobStep::Last, 100);
    mStepNumber = qBound(1, step + 1, stepCount());
    emit signal_changed(mNumber);
}

// The port reports the bytes of every write; those of the file being written
// are the ones of its size.
void SocketRun::slot_mSession_signal_bytesSent(qint64 sent, qint64 total)
{
    if (mState != State::Running || mBytesFile.isEmpty() || total != mBytesTotal)
        return; // a command's bytes, not the file's
    mBytesSent = sent;
    emit signal_changed(mNumber);
}

void SocketRun::slot_mSession_signal_jobEnded(OperationType job, bool success, const QString &text)
{
    if (mState != State::Running || job != mJob)
        return;
    if (!success && mSession.lineLost()) {
        // The device itself is gone: a pulled adapter, whenever its port leaves the list.
        endJob(JournalRecord::Result::Unplugged, QStringLiteral("модем отключён"));
        close(State::Done);
        return;
    }
    if (!success) {
        mFailureText = text + QStringLiteral(": ") + failureDetail();
        mTimerPullGrace->start();
        emit signal_pullSuspected(mNumber);
        return;
    }
    mProgress = 100;
    endJob(JournalRecord::Result::Success, text);
    afterJob();
}

void SocketRun::slot_mTimerPullGrace_timeout()
{
    if (mState != State::Running)
        return;
    endJob(JournalRecord::Result::Failure, mFailureText);
    afterJob();
}

void SocketRun::afterJob()
{
    mAskedSinceAnswering = false;
    keepListening();
}

void SocketRun::listenForSilence()
{
    if (mTimerSilence->interval() > 0)
        mTimerSilence->start();
}

void SocketRun::endJob(JournalRecord::Result result, const QString &text)
{
    mTimerPullGrace->stop();
    JournalRecord record = recordHere(result);
    if (result != JournalRecord::Result::Success)
        record.step = mStep;
    QStringList parts = QStringList{text} + mNotes;
    parts.removeAll(QString());
    record.text = parts.join(QStringLiteral("; "));
    record.seconds = mJobClock.elapsed() / 1000.0;
    record.fileHashes = mFileHashes;
    record.tableRow = mTableRow;
    mTableRow = 0;
    // The verdict goes out first, so that no listener sees a job that is over
    // without its verdict.
    mVerdict = SocketText::verdict(record);
    mMemory.noteJob(mImei, result == JournalRecord::Result::Success, QDateTime::currentDateTime());
    if (result == JournalRecord::Result::Unplugged)
        mMemory.noteLeft();
    emit signal_jobEnded(record);
    setState(State::Done);
}

// Bytes while no answer has made it a modem: what it is doing instead is
// shown at once, and the limit for its verdict starts at the first of them.
void SocketRun::slot_mSession_signal_received(const QByteArray &data)
{
    if (mTimerSilence->isActive())
        listenForSilence();
    // An answer with "OK" is the modem answering: the presence check counts those.
    if (mState != State::Waiting || data.isEmpty() || data.contains(ModemCommands::ok()) ||
        mHeard.size() >= heardKept)
        return;
    const bool first = mHeard.isEmpty();
    mHeard += data.left(heardKept - mHeard.size());
    if (first && mTimerAnswerWithin->interval() > 0)
        mTimerAnswerWithin->start();
    const QString version = LogComposer::scriptVersion(QString::fromUtf8(data));
    if (mScriptVersion.isEmpty() && !version.isEmpty()) {
        mScriptVersion = version;
        announce(SocketText::scriptRunning(version));
    } else if (first && version.isEmpty()) {
        announce(SocketText::notAnswering(shownBytes(mHeard)));
    } else {
        return;
    }
    emit signal_changed(mNumber);
}

void SocketRun::slot_mTimerAnswerWithin_timeout()
{
    if (mState != State::Waiting)
        return;
    recordSilentModem();
    mMemory.noteNoJob();
    setState(State::Done);
    keepListening();
}

// No byte for a while: the modem has gone, and one that never took a job is
// recorded. Silence decides nothing else: a script may print seldom.
void SocketRun::slot_mTimerSilence_timeout()
{
    if ((mState != State::Waiting && mState != State::Done) || !mSession.isPortOpen())
        return;
    mMemory.noteLeft();
    const bool hadModem = mState == State::Done || !mHeard.isEmpty();
    recordSilentModem();
    resetModem();
    setState(State::Waiting);
    if (hadModem)
        announce(QStringLiteral("Модем молчит %1 с: ждём модем")
                     .arg(mTimerSilence->interval() / 1000.0, 0, 'g', 3));
}

void SocketRun::recordSilentModem()
{
    if (mState != State::Waiting || mHeard.isEmpty())
        return;
    mTimerAnswerWithin->stop();
    if (mScriptVersion.isEmpty())
        recordWithoutJob(JournalRecord::Result::NoAnswer,
                         QStringLiteral("получено: ") + shownBytes(mHeard));
    else
        recordWithoutJob(JournalRecord::Result::AlreadyFlashed,
                         QStringLiteral("выполняется скрипт ") + mScriptVersion);
    mHeard.clear();
    mScriptVersion.clear();
}

QString SocketRun::shownBytes(const QByteArray &bytes)
{
    return printablePart(QString::fromUtf8(bytes), heardShown);
}

// What the modem did where the job stopped: the step, the file's bytes when
// it stopped in a file, and silence (with the wait), "ERROR" or other bytes.
QString SocketRun::failureDetail() const
{
    QString where = QStringLiteral("шаг %1 из %2").arg(mStepNumber).arg(stepCount());
    if (!mBytesFile.isEmpty() && mStep == QStringLiteral("файл ") + mBytesFile)
        where +=
            QStringLiteral(", %1 %2 из %3 байт").arg(mBytesFile).arg(mBytesSent).arg(mBytesTotal);
    const QByteArray answer = mSession.lastAnswer();
    QString what;
    if (answer.trimmed().isEmpty())
        what = QStringLiteral("нет ответа за %1 мс").arg(mSession.lastWaitMs());
    else if (answer.contains("ERROR"))
        what = QStringLiteral("ERROR");
    else
        what = QStringLiteral("получено: ") + shownBytes(answer.trimmed());
    return where + QStringLiteral(": ") + what;
}

// What every record of this socket's modem holds: where it was, which, and its result.
JournalRecord SocketRun::recordHere(JournalRecord::Result result) const
{
    JournalRecord record;
    record.socket = mNumber;
    record.port = mPort.name;
    record.serialNumber = mPort.serialNumber;
    record.imei = mImei;
    record.job = mJobName;
    record.result = result;
    return record;
}

void SocketRun::recordWithoutJob(JournalRecord::Result result, const QString &text)
{
    JournalRecord record = recordHere(result);
    record.text = text;
    record.seconds = mJobClock.isValid() ? mJobClock.elapsed() / 1000.0 : 0;
    mVerdict = SocketText::verdict(record);
    emit signal_jobEnded(record);
}

void SocketRun::setState(State state)
{
    mState = state;
    emit signal_changed(mNumber);
}

void SocketRun::announce(const QString &text)
{
    emit signal_event(mNumber, mPort.name, text);
}

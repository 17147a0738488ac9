#include "socketrun.h"

#include "imeiparser.h"
#include "openfailurehint.h"
#include "protocol/jobsteps.h"
#include "protocol/modemcommands.h"
#include "protocol/modemfiles.h"
#include "sockettexts.h"

#include <QCryptographicHash>
#include <QFile>

namespace {
} // namespace

SocketRun::SocketRun(int number, OperationType job, const QString &jobName, const Timing &timing,
                     QObject *parent)
    : QObject(parent), mSession(timing), mNumber(number), mJob(job), mJobName(jobName),
      mTimerPullGrace(new QTimer(this))
{
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

QString SocketRun::stateText() const
{
    switch (mState) {
    case State::Empty:
        return SocketText::empty();
    case State::Opening:
        return SocketText::opening();
    case State::Waiting:
        return SocketText::waiting();
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
    if (mAccepting)
        open();
}

void SocketRun::open()
{
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
    setState(State::Opening);
    mSession.openPort(mPort.systemLocation, ModemLine::baudRate);
}

void SocketRun::unplug()
{
    mNextPort.reset();
    if (mState == State::Running)
        endJob(JournalRecord::Result::Unplugged, QStringLiteral("модем отключён"));
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
    if (mState == State::Opening || mState == State::Waiting || mState == State::Identifying)
        close(State::Done);
}

void SocketRun::stopNow()
{
    mAccepting = false;
    mNextPort.reset();
    if (mState == State::Running && mTimerPullGrace->isActive())
        endJob(JournalRecord::Result::Failure, mFailureText);
    else if (mState == State::Running)
        endJob(JournalRecord::Result::Interrupted, QStringLiteral("прервано оператором"));
    if (mState != State::Closing && (mSession.isPortOpen() || mState == State::Opening))
        close(mState == State::Empty ? State::Empty : State::Done);
}

void SocketRun::close(State after)
{
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
}

void SocketRun::slot_mSession_signal_portOpenFailed()
{
    if (mState == State::Closing) {
        slot_mSession_signal_portClosed(); // nothing was open, nothing to wait for
        return;
    }
    setState(State::OpenFailed);
    announce(QStringLiteral("Ошибка при открытии порта. ") +
             OpenFailureHint().explain(mPort.systemLocation));
}

void SocketRun::slot_mSession_signal_portClosed()
{
    if (mState != State::Closing)
        return;
    setState(mAfterClose);
    if (mNextPort && mAccepting) {
        mPort = *mNextPort;
        mNextPort.reset();
        open();
    }
}

void SocketRun::slot_mSession_signal_presence(bool connected)
{
    if (!connected || mState != State::Waiting)
        return;
    announce(QStringLiteral("Связь с модемом установлена"));
    setState(State::Identifying);
    mSession.sendQuery(ModemCommands::imeiQuery(), mSession.timing().answer.imeiQuery);
}

void SocketRun::slot_mSession_signal_queryAnswered(const QByteArray &answer)
{
    if (mState != State::Identifying)
        return;
    const std::optional<QString> imei = ImeiParser::parse(answer);
    mImei = imei.value_or(QString());
    announce(imei ? QStringLiteral("IMEI ") + *imei : QStringLiteral("IMEI не прочитан"));
    mIdentified = true;
    emit signal_identified(mNumber, mImei);
    if (mState != State::Identifying)
        return; // the watch stopped it meanwhile
    if (!mAccepting) {
        close(State::Done);
        return;
    }
    if (!mJobHeld)
        beginJob();
}

void SocketRun::holdJobs(bool hold)
{
    mJobHeld = hold;
    if (!hold && mState == State::Identifying && mIdentified && mAccepting)
        beginJob();
}

void SocketRun::beginJob()
{
    mFileHashes.clear();
    mJobClock.start();
    mStep = QStringLiteral("запуск");
    mStepNumber = 1;
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
    if (!success) {
        mFailureText = text;
        mTimerPullGrace->start();
        emit signal_pullSuspected(mNumber);
        return;
    }
    mProgress = 100;
    endJob(JournalRecord::Result::Success, text);
    close(State::Done);
}

void SocketRun::slot_mTimerPullGrace_timeout()
{
    if (mState != State::Running)
        return;
    endJob(JournalRecord::Result::Failure, mFailureText);
    close(State::Done);
}

void SocketRun::endJob(JournalRecord::Result result, const QString &text)
{
    mTimerPullGrace->stop();
    JournalRecord record;
    record.socket = mNumber;
    record.port = mPort.name;
    record.serialNumber = mPort.serialNumber;
    record.imei = mImei;
    record.job = mJobName;
    record.result = result;
    if (result != JournalRecord::Result::Success)
        record.step = mStep;
    QStringList parts = QStringList{text} + mNotes;
    parts.removeAll(QString());
    record.text = parts.join(QStringLiteral("; "));
    record.seconds = mJobClock.elapsed() / 1000.0;
    record.fileHashes = mFileHashes;
    // The verdict goes out first, so that no listener sees a job that is over
    // without its verdict.
    mVerdict = SocketText::verdict(record);
    emit signal_jobEnded(record);
    setState(State::Done);
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

#include "modemsession.h"

#include "operations/jobaction.h"
#include "operations/readsettingsanswer.h"
#include "protocol/modemcommands.h"
#include "protocol/modemfiles.h"
#include "protocol/modemtext.h"
#include "protocol/tooltexts.h"
#include "serial/commandsender.h"
#include "settings/settingsfile.h"

#include <QDateTime>
#include <QTimer>
#include <utility>

namespace {

QString startText(OperationType job)
{
    switch (job) {
    case OperationType::ReadSettings:
        return ToolText::readStarted();
    case OperationType::LoadSettings:
        return WriteJob::startText(WriteJob::Kind::LoadSettings);
    case OperationType::Flash:
        return WriteJob::startText(WriteJob::Kind::Flash);
    default:
        return QString(); // the clear job starts without a line
    }
}
} // namespace

ModemSession::ModemSession(const Timing &timing, QObject *parent)
    : QObject(parent), mTiming(timing), serial(timing.worker), mPresence(timing.presenceAnswers),
      mReadTarget(ModemFiles::settings()), mWriteJob(timing), mClearJob(timing)
{
    // The signals carry these, also to queued receivers and signal spies.
    qRegisterMetaType<OperationType>();
    qRegisterMetaType<MessageKind>();
    connect(&serial, &SerialPort::signal_openPort_ok, this,
            &ModemSession::slot_serial_signal_openPort_ok, Qt::QueuedConnection);
    connect(&serial, &SerialPort::signal_openPort_error, this,
            &ModemSession::slot_serial_signal_openPort_error, Qt::QueuedConnection);
    connect(&serial, &SerialPort::signal_receivedAnswer, this,
            &ModemSession::slot_serial_signal_receivedAnswer, Qt::QueuedConnection);
    connect(
        &serial, &SerialPort::signal_receivedData, this,
        [this](const QByteArray &data) {
            if (mPortOpen)
                emit signal_received(data);
            appendLog(textUpToZero(data), MessageKind::Received);
        },
        Qt::QueuedConnection);
    connect(&serial, &QThread::finished, this, &ModemSession::slot_serial_finished,
            Qt::QueuedConnection);
    connect(&serial, &SerialPort::signal_bytesWritten, this, &ModemSession::signal_bytesSent,
            Qt::QueuedConnection);
    // Queued like the answer it precedes, so it is known when that answer is judged.
    connect(
        &serial, &SerialPort::signal_lineLost, this, [this] { mLineLost = true; },
        Qt::QueuedConnection);

    mTimerSendCheck = new QTimer(this);
    mTimerSendCheck->setInterval(timing.presenceInterval);
    connect(mTimerSendCheck, &QTimer::timeout, this, &ModemSession::slot_mTimerSendCheck_timeout);

    mTimerOperationStart = new QTimer(this);
    mTimerOperationStart->setInterval(mTimerSendCheck->interval() + msOf(timing.startDelayExtra));
    connect(mTimerOperationStart, &QTimer::timeout, this,
            &ModemSession::slot_mTimerOperationStart_timeout);

    mSender = new CommandSender(
        [this](const QByteArray &command, int wait) { return serial.setRequest(command, wait); },
        timing.handOverRetry, this);
    connect(mSender, &CommandSender::signal_handedOver, this, [this](const QByteArray &command) {
        appendLog(textUpToZero(command), MessageKind::Sent);
        if (mFileInFlight.isEmpty())
            emit signal_commandSent(command);
        else
            emit signal_fileStarted(std::exchange(mFileInFlight, QString()), command.size());
    });
}

// The worker must have ended before it is destroyed. QThread::wait returns once
// the loop has closed the port, without spinning the calling thread meanwhile.
ModemSession::~ModemSession()
{
    serial.stopPort();
    serial.wait();
}

void ModemSession::setSettingsSource(const QString &fileName)
{
    FileSource source;
    source.settingsFile = fileName;
    mWriteJob.setFileSource(source);
    mWriteJob.setReplaceSettings(false);
}

void ModemSession::setSettingsContent(const SmallFile &content)
{
    FileSource source;
    source.settingsContent = content;
    mWriteJob.setFileSource(source);
    mWriteJob.setReplaceSettings(false);
}

void ModemSession::setOwnSettings(const SmallFile &content)
{
    setSettingsContent(content);
    mWriteJob.setReplaceSettings(true);
}

void ModemSession::setReadTarget(const QString &fileName)
{
    mReadTarget = fileName;
}

void ModemSession::openPort(const QString &name, int baud)
{
    mLineLost = false;
    serial.setPortSettings(name, baud);
    serial.startPort();
}

void ModemSession::closePort()
{
    requestClose();
    finishClose();
}

void ModemSession::requestClose()
{
    startOperation(OperationType::None);
    mClosing = true;
    serial.stopPort();
}

void ModemSession::finishClose()
{
    // Returns once the loop has ended and closed the port; no polling loop.
    serial.wait();
    slot_serial_finished();
}

void ModemSession::slot_serial_finished()
{
    if (!mClosing)
        return; // a failed open, or a close already reported
    mClosing = false;
    appendLog(ToolText::portClosed(), MessageKind::Status);
    mPortOpen = false;
    emit signal_portClosed();
}

void ModemSession::slot_serial_signal_openPort_ok()
{
    appendLog(ToolText::portOpened(), MessageKind::Status);
    mPortOpen = true;
    emit signal_portOpened();
    // A new port, maybe a new device: it has to answer five times in a row again.
    mPresence.reset();
    mSender->resetSession();
    startOperation(OperationType::PresenceCheck);
}

void ModemSession::slot_serial_signal_openPort_error()
{
    appendLog(ToolText::portOpenFailed(), MessageKind::Status);
    emit signal_portOpenFailed();
}

void ModemSession::startJob(OperationType job)
{
    mJob = job;
    if (job == OperationType::LoadSettings)
        mFileList = QStringList{ModemFiles::settings()};
    else if (job == OperationType::Flash)
        mFileList = ModemFiles::scripts();
    startOperation(job);
    emit signal_jobStarted(job);
    const QString text = startText(job);
    if (!text.isEmpty())
        appendLog(text, MessageKind::Status);
}

void ModemSession::resumePresenceCheck()
{
    startOperation(OperationType::PresenceCheck);
}

void ModemSession::sendQuery(const QByteArray &command, Timing::Ms wait)
{
    startOperation(OperationType::None);
    mQueryPending = true;
    // Answers to presence commands still in flight are not this query's.
    mSender->beginOperation();
    sendCommand(command, msOf(wait));
}

// A wait of 0 stands for the usual one: the worker takes only a command with a wait.
void ModemSession::sendCommand(const QByteArray &command, int waitMs)
{
    mLastWaitMs = waitMs == 0 ? msOf(mTiming.answer.usual) : waitMs;
    mSender->send(command, mLastWaitMs, CommandSender::Delivery::Guaranteed);
}

void ModemSession::startOperation(OperationType operation)
{
    mOperation = OperationType::None;
    mPendingOperation = operation;
    mQueryPending = false;
    mTimerSendCheck->stop();
    mSender->cancel();
    mFileInFlight.clear();
    if (operation == OperationType::None) {
        // Nothing may reach the modem once the port is being closed.
        mTimerOperationStart->stop();
        return;
    }
    switch (operation) {
    case OperationType::PresenceCheck:
        mCurrentCommand = ModemCommands::echoOff();
        mCurrentWait = mTiming.answer.echoOff;
        break;
    case OperationType::ReadSettings:
        mCurrentCommand = ModemCommands::readSettings();
        mCurrentWait = mTiming.answer.readSettings;
        break;
    case OperationType::LoadSettings:
        mCurrentCommand = ModemCommands::unselectScript();
        mCurrentWait = mTiming.answer.unselectScript;
        mWriteJob.start(WriteJob::Kind::LoadSettings, mFileList);
        break;
    case OperationType::Flash:
        mCurrentCommand = ModemCommands::unselectScript();
        mCurrentWait = mTiming.answer.unselectScript;
        mWriteJob.start(WriteJob::Kind::Flash, mFileList);
        break;
    case OperationType::Clear:
        mCurrentCommand = ModemCommands::unselectScript();
        mCurrentWait = mTiming.answer.unselectScript;
        mClearJob.start();
        break;
    case OperationType::None:
        break;
    }
    mTimerOperationStart->start();
}

void ModemSession::slot_mTimerOperationStart_timeout()
{
    mTimerOperationStart->stop();
    mOperation = mPendingOperation;
    mSender->beginOperation();
    sendCommand(mCurrentCommand, msOf(mCurrentWait));
    if (mOperation == OperationType::PresenceCheck)
        mTimerSendCheck->start();
}

void ModemSession::slot_mTimerSendCheck_timeout()
{
    if (!mPresenceCheckEnabled)
        return;
    // A refused presence command is not retried: the next tick sends a fresh one.
    mSender->send(ModemCommands::echoOff(), msOf(mTiming.answer.echoOff),
                  CommandSender::Delivery::Droppable);
}

void ModemSession::slot_serial_signal_receivedAnswer(QByteArray data)
{
    const bool current = mSender->takeAnswer();
    if (mPortOpen && !data.isEmpty())
        emit signal_received(data);
    if (mQueryPending && mPortOpen && current) {
        mQueryPending = false;
        appendLog(textUpToZero(data), MessageKind::Received);
        emit signal_queryAnswered(data);
        return;
    }
    if (mOperation == OperationType::None || !mPortOpen || !current)
        return;
    const bool hasOk = data.contains(ModemCommands::ok());
    mLastAnswer = data;
    if (mOperation == OperationType::PresenceCheck) {
        mPresence.count(hasOk);
        emit signal_presence(mPresence.connected());
    } else {
        mPresence.reset();
    }
    appendLog(textUpToZero(data), MessageKind::Received);

    switch (mOperation) {
    case OperationType::ReadSettings:
        handleReadSettingsAnswer(data);
        break;
    case OperationType::LoadSettings:
    case OperationType::Flash:
        emit signal_progress(mWriteJob.step());
        carryOut(mWriteJob.onAnswer(data));
        break;
    case OperationType::Clear:
        carryOut(mClearJob.onAnswer(data));
        break;
    case OperationType::None:
    case OperationType::PresenceCheck:
        break;
    }
}

void ModemSession::handleReadSettingsAnswer(const QByteArray &data)
{
    const std::optional<QStringList> lines = parseReadSettingsAnswer(data);
    if (!lines) {
        endJob(false, ToolText::readFailed(), true);
        return;
    }
    mOperation = OperationType::None;
    if (!writeLinesToFile(mReadTarget, *lines)) {
        // The modem's settings could not be stored: saying "read" would be a lie.
        endJob(false, ToolText::settingsNotStored(mReadTarget), true);
        return;
    }
    endJob(true, ToolText::settingsRead(), true);
}

void ModemSession::carryOut(const JobAction &action)
{
    if (action.kind == JobAction::Kind::Send) {
        mFileInFlight = action.fileName;
        sendCommand(action.command, action.wait);
    } else {
        endJob(action.kind == JobAction::Kind::Succeed, action.text, action.logText);
    }
}

// No answer may advance the ended job while the front end shows its end.
void ModemSession::endJob(bool success, const QString &text, bool logText)
{
    mOperation = OperationType::None;
    if (logText)
        appendLog(text, MessageKind::Status);
    emit signal_jobEnded(mJob, success, text, logText);
}

void ModemSession::appendLog(const QString &text, MessageKind kind)
{
    const QString line = mLogComposer.compose(QDateTime::currentDateTime(), text, kind,
                                              mOperation == OperationType::PresenceCheck,
                                              mPresence.connected(), mLastLine);
    if (line.isEmpty())
        return;
    mLastLine = line;
    emit signal_logLine(line, kind);
}

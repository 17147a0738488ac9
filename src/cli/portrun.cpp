#include "portrun.h"

#include "line/imeiparser.h"
#include "log/logcomposer.h"
#include "protocol/jobsteps.h"
#include "protocol/modemcommands.h"
#include "protocol/modemfiles.h"
#include "protocol/tooltexts.h"

#include <QTimer>

namespace {
constexpr double lineBytesPerMs = ModemLine::baudRate / (ModemLine::bitsPerByte * 1000.0);
QString openFailureText(bool heldElsewhere)
{
    const QString text = ToolText::portOpenFailed();
    return heldElsewhere ? text + QStringLiteral(": порт занят другой программой") : text;
}
} // namespace

PortRun::PortRun(const QString &port, OperationType job, const QString &jobName,
                 const Timing &timing, QObject *parent)
    : QObject(parent), mSession(timing), mTimerConnect(new QTimer(this)), mJob(job)
{
    mResult.port = port;
    mResult.job = jobName;
    mTimerConnect->setSingleShot(true);
    connect(mTimerConnect, &QTimer::timeout, this, &PortRun::slot_mTimerConnect_timeout);
    connect(&mSession, &ModemSession::signal_logLine, this, [this](const QString &line) {
        mResult.log << line;
        emit signal_logLine(mResult.port, line);
    });
    connect(&mSession, &ModemSession::signal_portOpenFailed, this,
            [this] { finish(false, openFailureText(mSession.isPortHeldElsewhere())); });
    connect(&mSession, &ModemSession::signal_presence, this,
            &PortRun::slot_mSession_signal_presence);
    connect(&mSession, &ModemSession::signal_progress, this, [this](int step) {
        mStep = step;
        emit signal_progressChanged();
    });
    connect(&mSession, &ModemSession::signal_commandSent, this,
            &PortRun::slot_mSession_signal_commandSent);
    connect(&mSession, &ModemSession::signal_fileStarted, this,
            &PortRun::slot_mSession_signal_fileStarted);
    connect(&mSession, &ModemSession::signal_bytesSent, this, [this](qint64 sent, qint64 total) {
        mSent = sent;
        mTotal = total;
        emit signal_progressChanged();
    });
    connect(&mSession, &ModemSession::signal_jobEnded, this,
            &PortRun::slot_mSession_signal_jobEnded);
    connect(&mSession, &ModemSession::signal_queryAnswered, this, [this](const QByteArray &answer) {
        if (mFinished || mEnding || mSettingsAsked || !mProvisioned)
            return;
        mResult.imei = ImeiParser::parse(answer).value_or(QString());
        mResult.log << (mResult.imei.isEmpty() ? QStringLiteral("IMEI не прочитан")
                                               : QStringLiteral("IMEI ") + mResult.imei);
        emit signal_logLine(mResult.port, mResult.log.last());
        mSettingsAsked = true;
        emit signal_settingsWanted(mResult.imei);
    });
}

void PortRun::giveSettings(const SmallFile &content, int row)
{
    if (mFinished || mEnding)
        return;
    mResult.tableRow = row;
    mSession.setOwnSettings(content);
    startJob();
}

void PortRun::refuseJob(const QString &text)
{
    finish(false, text);
}

void PortRun::setReadTarget(const QString &fileName)
{
    mSession.setReadTarget(fileName);
    if (mJob == OperationType::ReadSettings)
        mResult.file = fileName;
}

void PortRun::start(int connectTimeoutS)
{
    mClock.start();
    mTimerConnect->start(connectTimeoutS * 1000);
    mSession.openPort(mResult.port, ModemLine::baudRate);
}

void PortRun::slot_mSession_signal_presence(bool connected)
{
    if (!connected || mJobStarted || mFinished)
        return;
    mJobStarted = true;
    mTimerConnect->stop();
    // With a provisioning table the modem says who it is first; its job
    // starts once its row has been given.
    if (mProvisioned)
        mSession.sendQuery(ModemCommands::imeiQuery(), mSession.timing().answer.imeiQuery);
    else
        startJob();
    emit signal_progressChanged();
}

// Once the session has finished with this answer, so that the log still says
// the modem is connected before the job's first line.
void PortRun::startJob()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!mFinished && !mEnding)
                mSession.startJob(mJob);
        },
        Qt::QueuedConnection);
}

void PortRun::slot_mSession_signal_commandSent(const QByteArray &command)
{
    showHandOver(QString::fromUtf8(command).trimmed(), false, command.size());
}

void PortRun::slot_mSession_signal_fileStarted(const QString &name, qint64 size)
{
    showHandOver(name, true, size);
}

// What went to the worker last: a command, or a file whose bytes are counted.
void PortRun::showHandOver(const QString &what, bool file, qint64 size)
{
    if (!mJobStarted)
        return;
    mCommand = what;
    mSendingFile = file;
    mSent = 0;
    mTotal = size;
    mSinceHandOver.start();
    emit signal_progressChanged();
}

// A failed job names the step it stopped at, as an interrupted one does: with many
// modems on a bench, where a flash broke off tells whether a modem lost its scripts.
void PortRun::slot_mSession_signal_jobEnded(OperationType, bool success, const QString &text)
{
    finish(success,
           success ? text : text + QStringLiteral(" (") + progressText() + QLatin1Char(')'));
}

void PortRun::slot_mTimerConnect_timeout()
{
    finish(false, ToolText::noConnection());
}

void PortRun::requestStop()
{
    if (mFinished || mEnding)
        return;
    mTimerConnect->stop();
    mSession.requestClose();
}

void PortRun::finishStop()
{
    if (mFinished || mEnding)
        return;
    mResult.interrupted = true;
    mResult.ok = false;
    mResult.text = QStringLiteral("Прервано: ") + progressText();
    mSession.finishClose();
    complete();
}

// The port closes on its worker; the run is over once it has, so that the
// event loop, shared by every port, never waits for one of them.
void PortRun::finish(bool ok, const QString &text)
{
    if (mEnding || mFinished)
        return;
    mEnding = true;
    mTimerConnect->stop();
    mResult.ok = ok;
    mResult.text = text;
    if (!mSession.isPortOpen()) {
        complete();
        return;
    }
    connect(&mSession, &ModemSession::signal_portClosed, this, &PortRun::complete);
    mSession.requestClose();
}

void PortRun::complete()
{
    if (mFinished)
        return;
    mResult.seconds = mClock.elapsed() / 1000.0;
    if (!mResult.ok)
        mResult.file.clear(); // no copy was stored
    mFinished = true;
    emit signal_finished();
}

QString PortRun::progressText() const
{
    if (!mJobStarted)
        return QStringLiteral("ожидание связи с модемом");
    QString text;
    if (mStep >= 0)
        text = QStringLiteral("шаг %1 из %2").arg(mStep).arg(JobStep::Last);
    QString what;
    if (mSendingFile)
        what = QStringLiteral("%1: %2 из %3 байт").arg(mCommand).arg(bytesOnLine()).arg(mTotal);
    else
        what = mCommand;
    if (!what.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + what;
    return text.isEmpty() ? QStringLiteral("запуск") : text;
}

// The driver takes a whole file at once (a pseudo-terminal, a USB adapter's
// buffer), so what it took says little; the line itself runs at 9600 bit/s.
qint64 PortRun::bytesOnLine() const
{
    const auto byTime = static_cast<qint64>(mSinceHandOver.elapsed() * lineBytesPerMs);
    return qMin(mSent, byTime);
}

#include "modembehaviour.h"

#include <algorithm>

namespace {

const QByteArray okAnswer = QByteArrayLiteral("\r\nOK\r\n");
const QByteArray errorAnswer = QByteArrayLiteral("\r\nERROR\r\n");
const QByteArray promptAnswer = QByteArrayLiteral("\r\n>>> ");
constexpr int maxLineLength = 512; // longer lines are cut and can only be answered ERROR

} // namespace

void ModemBehaviour::receive(const QByteArray &bytes, qint64 nowMs)
{
    tick(nowMs);
    if (!mPresent)
        return;
    int i = 0;
    while (i < bytes.size()) {
        if (mWrite) {
            i += takeData(bytes.constData() + i, bytes.size() - i);
            continue;
        }
        const char c = bytes.at(i++);
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (mLine.size() <= maxLineLength)
                mLine.append(c);
            continue;
        }
        const QByteArray line = mLine;
        mLine.clear();
        if (!line.isEmpty())
            handleLine(line, nowMs);
    }
}

void ModemBehaviour::tick(qint64 nowMs)
{
    if (!mPresent)
        return;
    if (mRestartEndMs >= 0 && nowMs >= mRestartEndMs)
        mRestartEndMs = -1;
    if (!mScriptRunning || nowMs < mNextScriptOutputMs)
        return;
    send(mScriptOutput);
    mNextScriptOutputMs += mScriptIntervalMs;
    // After a long stall print once and keep the rhythm from now, not a burst of lines.
    if (mNextScriptOutputMs <= nowMs)
        mNextScriptOutputMs = nowMs + mScriptIntervalMs;
}

qint64 ModemBehaviour::nextDeadlineMs() const
{
    qint64 deadline = mRestartEndMs;
    if (mScriptRunning && (deadline < 0 || mNextScriptOutputMs < deadline))
        deadline = mNextScriptOutputMs;
    return deadline;
}

void ModemBehaviour::startScript(qint64 nowMs)
{
    mScriptRunning = true;
    mNextScriptOutputMs = nowMs;
    tick(nowMs);
}

void ModemBehaviour::stopScript(const QByteArray &reason)
{
    if (!mScriptRunning)
        return;
    mScriptRunning = false;
    send("Stop Script: " + reason + "\r\n");
}

void ModemBehaviour::powerUp()
{
    mHangUpRequested = false;
    mLine.clear();
    mWrite.reset();
    mRestartEndMs = -1;
    mEcho = true;
}

void ModemBehaviour::takeOut()
{
    mPresent = false;
    mOutput.clear();
}

void ModemBehaviour::putIn(qint64 nowMs)
{
    powerUp();
    mPresent = true;
    if (mScriptRunning)
        startScript(nowMs);
}

void ModemBehaviour::replaceWith(const QByteArray &imei)
{
    powerUp();
    mStore = ScriptStore();
    mFaults = FaultRules();
    mCommands.clear();
    mSelectedScript.clear();
    mDataBytes = 0;
    mScriptRunning = false;
    mImei = imei;
    mPresent = true;
}

QByteArray ModemBehaviour::takeOutput()
{
    QByteArray output;
    output.swap(mOutput);
    return output;
}

QList<ModemBehaviour::Traffic> ModemBehaviour::takeTraffic()
{
    QList<Traffic> traffic;
    traffic.swap(mTraffic);
    return traffic;
}

void ModemBehaviour::handleLine(const QByteArray &line, qint64 nowMs)
{
    mCommands.append(line);
    record(true, line);
    // Restarting or running a script, the module does not take commands: no echo, no answer.
    const bool busy = restartingAt(nowMs) || mScriptRunning;
    const std::optional<ModemFault> fault = mFaults.take(mCommands.size(), line);
    if (fault && !fault->isDataFault()) {
        applyFault(*fault, line, busy);
        return;
    }
    if (busy)
        return;
    if (mEcho)
        send(line + '\r');
    const bool cut = line.size() > maxLineLength;
    execute(cut ? SimCommand() : SimCommand::parse(line), fault, nowMs);
}

void ModemBehaviour::applyFault(const ModemFault &fault, const QByteArray &line, bool busy)
{
    if (fault.action == ModemFault::Silence)
        return;
    if (fault.action == ModemFault::HangUp) {
        mHangUpRequested = true;
        return;
    }
    if (mEcho && !busy)
        send(line + '\r');
    switch (fault.action) {
    case ModemFault::Error:
        send(errorAnswer);
        break;
    case ModemFault::Garbage:
        send(garbage());
        break;
    case ModemFault::StrayPrompt:
        send(promptAnswer);
        break;
    case ModemFault::OkWithoutPrompt:
        send(okAnswer);
        break;
    case ModemFault::HalfAnswer:
        send(QByteArrayLiteral("\r\nO"));
        break;
    default:
        break;
    }
}

void ModemBehaviour::execute(const SimCommand &command, const std::optional<ModemFault> &fault,
                             qint64 nowMs)
{
    using Kind = SimCommand::Kind;
    switch (command.kind) {
    case Kind::Attention:
    case Kind::StartMode:
        send(okAnswer);
        break;
    case Kind::EchoOff:
    case Kind::EchoOn:
        mEcho = command.kind == Kind::EchoOn;
        send(okAnswer);
        break;
    case Kind::SelectScript:
        mSelectedScript = command.name;
        send(okAnswer);
        break;
    case Kind::Restart:
        send(okAnswer);
        restart(nowMs);
        break;
    case Kind::List:
        send("\r\n" + mStore.listing() + okAnswer);
        break;
    case Kind::Read:
        send(mStore.contains(command.name) ? "\r\n<<<" + mStore.content(command.name) + okAnswer
                                           : errorAnswer);
        break;
    case Kind::Delete:
        send(mStore.remove(command.name) ? okAnswer : errorAnswer);
        break;
    case Kind::Write:
        beginWrite(command, fault);
        break;
    case Kind::Execute:
        send(okAnswer);
        startScript(nowMs);
        break;
    case Kind::Identity:
        send(mImei.isEmpty() ? okAnswer : "\r\n" + mImei + "\r\n" + okAnswer);
        break;
    case Kind::Invalid:
        send(errorAnswer);
        break;
    }
}

void ModemBehaviour::beginWrite(const SimCommand &command, const std::optional<ModemFault> &fault)
{
    if (!mStore.fits(command.name, command.size)) {
        send(errorAnswer);
        return;
    }
    PendingWrite write;
    write.name = command.name;
    write.size = command.size;
    if (fault && fault->action == ModemFault::DataStall)
        write.stallAfter = std::max(0, fault->dataBytes);
    write.errorAtEnd = fault && fault->action == ModemFault::DataError;
    mWrite = write;
    send(promptAnswer);
}

int ModemBehaviour::takeData(const char *data, int size)
{
    PendingWrite &write = *mWrite;
    const int take = std::min(size, write.size - write.received);
    int keep = take;
    if (write.stallAfter >= 0)
        keep = std::clamp(write.stallAfter - write.bytes.size(), 0, take);
    write.bytes.append(data, keep);
    write.received += take;
    mDataBytes += keep;
    if (write.received == write.size)
        finishWrite();
    return take;
}

void ModemBehaviour::finishWrite()
{
    const PendingWrite write = *mWrite;
    mWrite.reset();
    record(true, "[" + QByteArray::number(write.size) + " file bytes]");
    if (write.stallAfter >= 0)
        return;
    if (write.errorAtEnd) {
        send(errorAnswer);
        return;
    }
    mStore.set(write.name, write.bytes);
    send(okAnswer);
}

void ModemBehaviour::restart(qint64 nowMs)
{
    mRestartEndMs = nowMs + std::max(0, mRestartSilenceMs);
    mScriptRunning = false;
    mEcho = true;
}

void ModemBehaviour::send(const QByteArray &bytes)
{
    mOutput += bytes;
    record(false, bytes);
}

void ModemBehaviour::record(bool fromHost, const QByteArray &bytes)
{
    if (mRecordTraffic)
        mTraffic.append(Traffic{fromHost, bytes});
}

QByteArray ModemBehaviour::garbage()
{
    // Broken UTF-8 and zero bytes up front, then noise that can never spell "OK" or ">>>".
    QByteArray bytes = QByteArray("\xff\xfe\x00\xc3\x28", 5);
    const int noise = 16 + int(mRandom.bounded(32));
    for (int i = 0; i < noise; ++i) {
        char c = char(mRandom.bounded(256));
        if (c == 'O' || c == 'K' || c == '>')
            c = char(c ^ 0x80);
        bytes.append(c);
    }
    bytes.append('\0');
    return bytes;
}

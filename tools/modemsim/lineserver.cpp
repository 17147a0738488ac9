#include "lineserver.h"

#include "ptyendpoint.h"
#include "sharedmodem.h"
#include "simclock.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr qint64 msNs = 1000000;
// Even without a wake-up the loop comes round this often (a bounded poll time-out).
constexpr qint64 maxPollNs = 100 * msNs;
constexpr int readChunk = 4096;
// A host that stops reading makes the backlog grow; past this, bytes are lost as on a UART.
constexpr int maxOutputBacklog = 64 * 1024;
// A serial port hands the host its received bytes a FIFO's worth at a time, or once the
// line falls idle, never byte by byte: a short line such as the script's version arrives
// in one read, as the tool's reads (what has come, no joining across answers) expect.
constexpr int outputFifoBytes = 16;

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

} // namespace

LineServer::LineServer(SharedModem &modem, PtyEndpoint &pty, const TrafficLog &log)
    : mModem(modem), mPty(pty), mLog(log)
{
}

void LineServer::setTimeScale(int divisor)
{
    const qint64 byteNs = LinePacer::lineByteNs / std::max(1, divisor);
    mInputPacer.setByteNs(byteNs);
    mOutputPacer.setByteNs(byteNs);
}

void LineServer::setPaced(bool paced)
{
    mPaced = paced;
    mWake.notify();
}

void LineServer::requestStop()
{
    mStopRequested = true;
    mWake.notify();
}

void LineServer::run()
{
    while (!mStopRequested.load())
        serveOnce();
}

void LineServer::serveOnce()
{
    const qint64 now = simClockNs();
    checkClient();
    if (mPaced.load() != mWasPaced) {
        mWasPaced = !mWasPaced;
        mInputPacer.reset();
        mOutputPacer.reset();
    }
    const qint64 modemDeadline = exchange(QByteArray(), now);
    if (mDead) {
        pollFor(now, now + maxPollNs, 0);
        return;
    }
    pumpOutput(now);

    qint64 wakeNs = now + maxPollNs;
    if (modemDeadline >= 0)
        wakeNs = std::min(wakeNs, modemDeadline);
    short events = 0;
    if (!mWasPaced || mInputPacer.idle()) {
        events |= POLLIN;
    } else if (mInputPacer.deadline() <= now) {
        pumpInput(now);
        return;
    } else {
        // Mid-burst the next bytes are not due yet: do not wake for them before then.
        wakeNs = std::min(wakeNs, mInputPacer.deadline());
    }
    if (outputPending()) {
        if (mOutputBlocked)
            events |= POLLOUT;
        else
            wakeNs = std::min(wakeNs, outputChunkDueNs());
    }
    pollFor(now, wakeNs, events);
}

void LineServer::pollFor(qint64 nowNs, qint64 wakeNs, short masterEvents)
{
    pollfd fds[3] = {{mWake.fd(), POLLIN, 0},
                     {mDead ? -1 : mPty.master(), masterEvents, 0},
                     {mDead ? -1 : mPty.openWatch(), POLLIN, 0}};
    const qint64 waitNs = std::max<qint64>(0, wakeNs - nowNs);
    const int timeoutMs = int((waitNs + msNs - 1) / msNs);
    if (poll(fds, 3, timeoutMs) <= 0)
        return;
    if (fds[0].revents)
        mWake.drain();
    if (mDead)
        return;
    checkClient();
    const short ready = fds[1].revents;
    if (ready & POLLOUT)
        mOutputBlocked = false;
    if (ready & POLLIN)
        pumpInput(simClockNs());
    else if (ready & (POLLERR | POLLHUP | POLLNVAL))
        hangUp();
}

qint64 LineServer::exchange(const QByteArray &input, qint64 nowNs)
{
    QByteArray output;
    QList<ModemBehaviour::Traffic> traffic;
    bool hangUpWanted = false;
    qint64 deadlineMs = -1;
    {
        std::lock_guard<std::mutex> lock(mModem.mutex);
        ModemBehaviour &modem = mModem.behaviour;
        const qint64 nowMs = nowNs / msNs;
        if (input.isEmpty())
            modem.tick(nowMs);
        else
            modem.receive(input, nowMs);
        output = modem.takeOutput();
        traffic = modem.takeTraffic();
        hangUpWanted = modem.hangUpRequested();
        deadlineMs = modem.nextDeadlineMs();
    }
    if (mLog) {
        for (const ModemBehaviour::Traffic &entry : traffic)
            mLog(entry.fromHost, entry.bytes);
    }
    if (hangUpWanted && !mDead)
        hangUp();
    appendOutput(output);
    return deadlineMs < 0 ? -1 : deadlineMs * msNs;
}

void LineServer::appendOutput(const QByteArray &bytes)
{
    if (mDead || bytes.isEmpty())
        return;
    if (!mClientPresent) {
        // As on a real line, what the modem sends while the port is closed is lost.
        mBytesSent += bytes.size();
        return;
    }
    if (mOutputOffset > 0) {
        mOutput.remove(0, mOutputOffset);
        mOutputOffset = 0;
    }
    const int room = std::max(0, maxOutputBacklog - int(mOutput.size()));
    mOutput += bytes.left(room);
}

void LineServer::pumpOutput(qint64 nowNs)
{
    while (outputPending() && !mOutputBlocked) {
        int count = mOutput.size() - mOutputOffset;
        if (mWasPaced)
            count = std::min(count, mOutputPacer.allowance(nowNs));
        if (count < outputChunk())
            return;
        const ssize_t written = write(mPty.master(), mOutput.constData() + mOutputOffset, count);
        if (written < 0 && !wouldBlock()) {
            hangUp();
            return;
        }
        const int sent = int(std::max<ssize_t>(0, written));
        mOutputOffset += sent;
        mBytesSent += sent;
        mOutputBlocked = sent < count;
        if (mWasPaced)
            mOutputPacer.consumed(sent, mOutputBlocked || !outputPending());
    }
}

int LineServer::outputChunk() const
{
    return std::min(int(mOutput.size()) - mOutputOffset, outputFifoBytes);
}

qint64 LineServer::outputChunkDueNs() const
{
    // The pacer is mid-burst here: pumpOutput() asked it for an allowance.
    return mOutputPacer.deadline() + qint64(outputChunk() - 1) * mOutputPacer.byteNs();
}

void LineServer::pumpInput(qint64 nowNs)
{
    // Open and close events come before the bytes that follow them: look before reading.
    checkClient();
    int budget = readChunk;
    if (mWasPaced)
        budget = std::min(budget, mInputPacer.allowance(nowNs));
    if (budget == 0)
        return;
    char bytes[readChunk];
    const ssize_t got = read(mPty.master(), bytes, size_t(budget));
    if (got == 0 || (got < 0 && !wouldBlock())) {
        hangUp();
        return;
    }
    const int taken = int(std::max<ssize_t>(0, got));
    if (mWasPaced)
        mInputPacer.consumed(taken, taken < budget);
    if (taken > 0)
        exchange(QByteArray(bytes, taken), nowNs);
}

void LineServer::checkClient()
{
    if (mDead)
        return;
    const bool present = mPty.clientPresent();
    const bool left = mClientPresent && !present;
    mClientPresent = present;
    if (!left)
        return;
    // Answers the last client did not read must not reach the next one.
    mPty.discardUnread();
    mOutput.clear();
    mOutputOffset = 0;
    mOutputBlocked = false;
    mOutputPacer.reset();
    std::lock_guard<std::mutex> lock(mModem.mutex);
    mModem.behaviour.dropPartialLine();
}

void LineServer::hangUp()
{
    mPty.closeMaster();
    mDead = true;
    mOutput.clear();
    mOutputOffset = 0;
    std::lock_guard<std::mutex> lock(mModem.mutex);
    mModem.hungUp = true;
    mModem.changed.notify_all();
}

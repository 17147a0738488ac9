#pragma once

#include "linepacer.h"
#include "wakesignal.h"

#include <QByteArray>
#include <atomic>
#include <functional>

class PtyEndpoint;
struct SharedModem;

// Serves the master side of the pty on the sim's own thread: reads the host's bytes,
// hands them to the modem behaviour and writes its answers back, each way at line
// rate when paced. Sleeps in poll() with bounded time-outs between deadlines.
class LineServer
{
public:
    using TrafficLog = std::function<void(bool fromHost, const QByteArray &bytes)>;

    LineServer(SharedModem &modem, PtyEndpoint &pty, const TrafficLog &log);

    // Before run(): the line runs this many times faster than 9600 bit/s.
    void setTimeScale(int divisor);
    // Any thread.
    void setPaced(bool paced);
    void requestStop();
    void wake() { mWake.notify(); }
    // Bytes the modem put on the line, heard by a client or not.
    qint64 bytesSent() const { return mBytesSent.load(); }

    // The serving thread: returns once a stop was requested.
    void run();

private:
    void serveOnce();
    qint64 exchange(const QByteArray &input, qint64 nowNs);
    void appendOutput(const QByteArray &bytes);
    void pumpOutput(qint64 nowNs);
    // The bytes handed to the host at once: a FIFO's worth, or the rest of the burst.
    int outputChunk() const;
    qint64 outputChunkDueNs() const;
    void pumpInput(qint64 nowNs);
    void checkClient();
    void hangUp();
    void pollFor(qint64 nowNs, qint64 wakeNs, short masterEvents);
    bool outputPending() const { return mOutputOffset < mOutput.size(); }

    SharedModem &mModem;
    PtyEndpoint &mPty;
    TrafficLog mLog;
    WakeSignal mWake;
    std::atomic<bool> mStopRequested{false};
    std::atomic<bool> mPaced{true};
    std::atomic<qint64> mBytesSent{0};
    // Owned by the serving thread.
    LinePacer mInputPacer;
    LinePacer mOutputPacer;
    QByteArray mOutput;
    int mOutputOffset = 0;
    bool mOutputBlocked = false;
    bool mClientPresent = false;
    bool mWasPaced = true;
    bool mDead = false;
};

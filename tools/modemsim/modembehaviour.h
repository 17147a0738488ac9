#pragma once

#include "faultrules.h"
#include "scriptstore.h"
#include "simcommand.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <optional>

// What the simulated modem does with the bytes it receives: echo, command answers,
// the file write handshake, the silent restart and the running script. Pure logic:
// it is fed bytes and the time (ms on a monotonic clock) and collects the bytes to
// send back. Not locked: the owner guards it.
class ModemBehaviour
{
public:
    struct Traffic
    {
        bool fromHost = false;
        QByteArray bytes;
    };

    static constexpr int defaultRestartSilenceMs = 3000;
    static constexpr int defaultScriptIntervalMs = 2000;

    ScriptStore &store() { return mStore; }
    const ScriptStore &store() const { return mStore; }
    FaultRules &faults() { return mFaults; }

    void setRestartSilenceMs(int ms) { mRestartSilenceMs = ms; }
    void setScriptIntervalMs(int ms) { mScriptIntervalMs = ms > 0 ? ms : 1; }
    void setScriptOutput(const QByteArray &line) { mScriptOutput = line; }
    void setTrafficRecording(bool on) { mRecordTraffic = on; }
    // What "at+cgsn" answers before its "OK"; empty: only "OK".
    void setImei(const QByteArray &imei) { mImei = imei; }

    void receive(const QByteArray &bytes, qint64 nowMs);
    // Ends a finished restart and prints the running script's output when it is due.
    void tick(qint64 nowMs);
    // When tick() has something to do next; -1 when nothing is timed.
    qint64 nextDeadlineMs() const;
    // A new client opened the port: a half-received command line is dropped.
    void dropPartialLine() { mLine.clear(); }

    void startScript(qint64 nowMs);
    void stopScript(const QByteArray &reason);
    void sendUnsolicited(const QByteArray &bytes) { send(bytes); }
    void requestHangUp() { mHangUpRequested = true; }
    // Power-up on start(): echo on, no restart, write or partial line pending, no hang-up.
    // Files, the selected script and a script started beforehand are kept.
    void powerUp();
    // The modem taken out of an adapter that stays: nothing is heard or answered.
    void takeOut();
    // The same modem put back and powered up; its script starts with it when it ran.
    void putIn(qint64 nowMs);
    // Another modem, new from the factory, put in where this one was.
    void replaceWith(const QByteArray &imei);
    bool present() const { return mPresent; }

    QByteArray takeOutput();
    QList<Traffic> takeTraffic();
    bool hangUpRequested() const { return mHangUpRequested; }

    const QList<QByteArray> &commands() const { return mCommands; }
    qint64 dataBytesReceived() const { return mDataBytes; }
    bool scriptRunning() const { return mScriptRunning; }
    bool restartingAt(qint64 nowMs) const { return mRestartEndMs >= 0 && nowMs < mRestartEndMs; }
    bool echo() const { return mEcho; }
    QByteArray selectedScript() const { return mSelectedScript; }

private:
    struct PendingWrite
    {
        QByteArray name;
        int size = 0;
        int received = 0;    // all bytes of this file so far, kept or not
        int stallAfter = -1; // DataStall: bytes kept before going silent
        bool errorAtEnd = false;
        QByteArray bytes;
    };

    void handleLine(const QByteArray &line, qint64 nowMs);
    void applyFault(const ModemFault &fault, const QByteArray &line, bool busy);
    void execute(const SimCommand &command, const std::optional<ModemFault> &fault, qint64 nowMs);
    void beginWrite(const SimCommand &command, const std::optional<ModemFault> &fault);
    int takeData(const char *data, int size);
    void finishWrite();
    void restart(qint64 nowMs);
    void send(const QByteArray &bytes);
    void record(bool fromHost, const QByteArray &bytes);
    QByteArray garbage();

    ScriptStore mStore;
    FaultRules mFaults;
    QByteArray mLine;
    QList<QByteArray> mCommands;
    std::optional<PendingWrite> mWrite;
    QByteArray mOutput;
    QList<Traffic> mTraffic;
    QByteArray mSelectedScript;
    QByteArray mScriptOutput = QByteArrayLiteral("v1.08\r\n");
    QByteArray mImei = QByteArrayLiteral("490154203237518"); // a valid Luhn digit
    QRandomGenerator mRandom{0x4c4f5254u};
    qint64 mDataBytes = 0;
    qint64 mRestartEndMs = -1;
    qint64 mNextScriptOutputMs = -1;
    int mRestartSilenceMs = defaultRestartSilenceMs;
    int mScriptIntervalMs = defaultScriptIntervalMs;
    bool mEcho = true;
    bool mScriptRunning = false;
    bool mHangUpRequested = false;
    bool mRecordTraffic = false;
    bool mPresent = true;
};

#pragma once

#include "modemfault.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <memory>
#include <thread>

class LineServer;
class PtyEndpoint;
struct SharedModem;

// A simulated modem on a pseudo-terminal, for tests and for trying the tool without
// hardware. start() creates the pty pair; a client opens portName() like a serial
// port. The modem answers the tool's AT commands, stores files written with the
// handshake, restarts silently, runs a "script" that prints its version, and
// misbehaves on demand (ModemFault). The line is served on a thread of the sim's own.
// start(), stop(), setPaced() and setTrafficLog() belong to the owning thread; every
// other method is thread-safe.
class ModemSim
{
public:
    using Fault = ModemFault;
    // Called on the sim's thread with each command line (fromHost) and each chunk of
    // answer bytes; set it before start() and do not call back into the sim from it.
    using TrafficLog = std::function<void(bool fromHost, const QByteArray &bytes)>;

    ModemSim();
    ~ModemSim(); // stops
    ModemSim(const ModemSim &) = delete;
    ModemSim &operator=(const ModemSim &) = delete;

    // openpty + thread; a new pty on every start. Powers the modem up: echo on, no
    // restart or write pending. Files, settings and a script started before stay.
    bool start(QString *error = nullptr);
    void stop(); // joins the thread
    bool isRunning() const;
    QString portName() const; // the slave path, e.g. /dev/pts/7; empty while stopped

    void setPaced(bool paced); // default true: 9600 bit/s, 10 bits a byte
    // Before start(): the modem runs this many times faster, for a tool whose
    // waits are scaled as much: the line's pace, its restart silence and its
    // script's interval are divided by it. The times set below stay in the
    // real modem's milliseconds.
    void setTimeScale(int divisor);
    void setRestartSilenceMs(int ms);             // default 3000
    void setScriptOutputIntervalMs(int ms);       // default 2000
    void setScriptOutput(const QByteArray &line); // default "v1.08\r\n"
    // What "at+cgsn" answers before "OK" (default "490154203237518"); empty: "OK" alone.
    void setImei(const QByteArray &imei);
    void setTrafficLog(const TrafficLog &log);

    void setFile(const QByteArray &name, const QByteArray &bytes); // appended, or replaced in place
    QList<QPair<QByteArray, QByteArray>> files() const;            // in listing order
    QByteArray file(const QByteArray &name) const;
    bool hasFile(const QByteArray &name) const;
    QByteArray selectedScript() const; // the last name given by at#escript

    void startScript(); // as after at#execscr: prints the version now and every interval
    // A running script stops, printing "Stop Script: " + reason + "\r\n"; otherwise nothing.
    void stopScript(const QByteArray &reason);
    bool scriptRunning() const;
    bool restarting() const; // inside the silence after at#enhrst=1,0
    bool echo() const;
    void sendUnsolicited(const QByteArray &bytes);

    // An adapter that stays plugged in while modems are swapped behind it: the
    // port stays, the modem goes silent, comes back (its script starting again
    // when it ran), or another one with its own IMEI and no files takes its place.
    void takeOut();
    void putIn();
    void replaceWith(const QByteArray &imei);

    void addFault(const Fault &fault);
    void hangUp(); // closes the sim's side now; returns once done; dead until stop()

    QList<QByteArray> commands() const; // received command lines in order, without "\r"
    qint64 dataBytesReceived() const;   // file bytes taken in all write handshakes
    qint64 bytesSent() const; // bytes put on the line since start(), heard by a client or not

private:
    void wakeServer();

    std::unique_ptr<SharedModem> mShared;
    std::unique_ptr<PtyEndpoint> mPty;
    std::unique_ptr<LineServer> mServer;
    std::thread mThread;
    void applyTimes();

    TrafficLog mLog;
    bool mPaced = true;
    int mTimeScale = 1;
    int mRestartSilenceMs;
    int mScriptIntervalMs;
};

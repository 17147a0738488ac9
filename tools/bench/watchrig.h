#pragma once

#include "line/portlister.h"
#include "line/watchoptions.h"
#include "modemfarm.h"
#include "socketbench.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <vector>

// Sixteen bench sockets for the production line's benchmarks, shared by the
// watch's and the bench window's: a simulated modem in a process of its own
// behind each entry of a hand-filled port list, and a folder with the journal
// and a settings file. Only the measured process's own work is on its CPU.
class WatchRig
{
public:
    static constexpr int sockets = 16;
    enum class Modems
    {
        Silent,  // a script runs: the presence check is never answered, "Ждём модем"
        Flashing // paced at 9600 bit/s and answering: a flash goes through
    };

    explicit WatchRig(const QString &simulator) : mSimulator(simulator) {}
    bool start(Modems modems);
    // The ports plugged so far; called on the event loop's thread only.
    PortLister lister() const { return mBench.lister(); }
    void plugAll();
    // The milliseconds from plugAll() to each modem's first command, sorted;
    // -1 for a modem that got none in time.
    std::vector<qint64> waitForFirstCommands(int timeoutMs);
    WatchOptions options(int count) const;
    QString journalFile() const;
    // A settings file that the jobs' check accepts.
    QString settingsFile() const;

private:
    QString mSimulator;
    ModemFarm mFarm;
    QTemporaryDir mDir;
    TestSupport::SocketBench mBench; // only the port list: the modems are the farm's
    QElapsedTimer mSincePlug;
};

// The CPU time of the whole process in ms, ended threads included.
double processCpuMs();
// Serves the event loop for seconds with nothing of its own to do; the
// process's CPU meanwhile, in % of one core.
double idleCpuPercent(int seconds);

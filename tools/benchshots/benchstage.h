#pragma once

#include "line/portentry.h"
#include "socketbench.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class ModemSim;

// Sixteen bench sockets with simulated modems behind them, each set up for the
// state it should show: done, failed, pulled mid-file, flashing, and emptied
// again after a job, or on a port that does not open. The port list is what the bench window is
// given.
class BenchStage
{
public:
    enum class Role
    {
        Done,
        Refused,
        Pulled,
        Flashing,
        Emptied,
        NoPort
    };

    static constexpr int socketCount = 16;

    BenchStage();
    ~BenchStage();

    bool start(QString *error);
    PortLister lister() const { return mBench.lister(); }
    // Moves every socket on towards its state, given what each tile shows
    // (its SocketModel tone, by socket index); true once all are there.
    bool advance(const std::function<int(int)> &toneOf, int flashingPercent);

private:
    struct Socket
    {
        Role role;
        ModemSim *sim;
        bool pulled = false;
    };

    void plug(const Socket &socket);
    void unplug(Socket &socket);

    TestSupport::SocketBench mBench;
    std::vector<Socket> mSockets;
};

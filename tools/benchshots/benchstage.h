#pragma once

#include "line/portentry.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class ModemSim;

// Eight bench sockets with simulated modems behind them, each set up for the
// state it should show: done, failed, pulled mid-file, flashing, and emptied
// again after a job. The port list is what the bench window is given.
class BenchStage
{
public:
    enum class Role
    {
        Done,
        Refused,
        Pulled,
        Flashing,
        Emptied
    };

    BenchStage();
    ~BenchStage();

    bool start(QString *error);
    QList<PortEntry> ports() const { return mPorts; }
    // Moves every socket on towards its state, given what each tile shows
    // (its SocketModel tone, by socket index); true once all are there.
    bool advance(const std::function<int(int)> &toneOf, int flashingPercent);

private:
    struct Socket
    {
        Role role;
        std::unique_ptr<ModemSim> sim;
        QString location;
        bool plugged = false;
        bool pulled = false;
    };

    void plug(Socket &socket);
    void unplug(Socket &socket);

    std::vector<Socket> mSockets;
    QList<PortEntry> mPorts;
};

#pragma once

#include "line/portlister.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

class ModemSim;

namespace TestSupport {

// A production bench for tests and tools: simulated modems on pseudo-terminals
// with chosen IMEIs, paced or not, plugged into and pulled from chosen USB
// positions of a hand-filled port list, which the watch reads through
// lister(). With a time scale every modem runs that many times faster, for a
// watch on the timing scaled as much (testtiming.h). Ports of modems that live
// elsewhere (a process of their own) are plugged by their path.
class SocketBench
{
public:
    static constexpr quint16 ftdiVendor = 0x0403;
    static constexpr quint16 ftdiProduct = 0x6001;

    explicit SocketBench(int timeScale = 1);
    ~SocketBench(); // the modems stop
    SocketBench(const SocketBench &) = delete;
    SocketBench &operator=(const SocketBench &) = delete;

    // A started modem holding a settings file, its restart silence 300 ms of
    // the real modem's time; it answers at+cgsn with imei.
    ModemSim *addModem(const QByteArray &imei, bool paced = false);
    // Another such modem put in behind the sim's port, which stays: an adapter
    // wired into the fixture. Take the last one out first (ModemSim::takeOut).
    void swapIn(ModemSim *sim, const QByteArray &imei);
    // The modem's port appears at the USB position; its name is "pts" and the
    // pseudo-terminal's number, its adapter's serial "FT" and the position.
    PortEntry plug(ModemSim *sim, const QString &location, quint16 productId = ftdiProduct);
    PortEntry plugPort(const QString &systemLocation, const QString &location,
                       quint16 productId = ftdiProduct);
    // An entry as plugPort() makes it, for a caller that names it otherwise.
    static PortEntry entry(const QString &systemLocation, const QString &location,
                           quint16 productId = ftdiProduct);
    void plugEntry(const PortEntry &entry) { *mPorts << entry; }
    void unplug(ModemSim *sim);
    void unplugPort(const QString &systemLocation);

    // The list as it stands whenever the watcher looks; valid as long as the bench.
    PortLister lister() const;
    QList<PortEntry> ports() const { return *mPorts; }
    int timeScale() const { return mTimeScale; }

private:
    int mTimeScale;
    std::vector<std::unique_ptr<ModemSim>> mSims;
    std::shared_ptr<QList<PortEntry>> mPorts = std::make_shared<QList<PortEntry>>();
};

} // namespace TestSupport

#include "benchstage.h"

#include "line/socketmodel.h"
#include "modemsim.h"

namespace {
constexpr int pullAfterBytes = 700;
const char *const imeis[] = {
    "490154203237518", "356938035643809", "353918057628402", "357805023984942", "354398024187535",
    "352099001761481", "867530012345674", "351756051523999", "356938035641233", "353918057621233",
    "357805023981237", "354398024181232", "352099001761234", "867530012341234"};
} // namespace

BenchStage::BenchStage() = default;

BenchStage::~BenchStage() = default;

bool BenchStage::start(QString *)
{
    const Role roles[socketCount] = {Role::Done,   Role::Flashing, Role::Refused, Role::Emptied,
                                     Role::NoPort, Role::Done,     Role::Pulled,  Role::Emptied,
                                     Role::Done,   Role::Refused,  Role::NoPort,  Role::Flashing,
                                     Role::Pulled, Role::Done,     Role::Emptied, Role::NoPort};
    int modems = 0;
    for (const Role role : roles) {
        Socket socket{role, nullptr};
        if (role != Role::NoPort) {
            const bool paced = role == Role::Flashing || role == Role::Pulled;
            socket.sim = mBench.addModem(imeis[modems++], paced);
        }
        if (role == Role::Refused)
            socket.sim->addFault(ModemFault::onPrefix("at#wscript", ModemFault::Error, 1));
        if (role == Role::Flashing)
            socket.sim->startScript(); // no answer to the presence check until released
        mSockets.push_back(socket);
        plug(mSockets.back());
    }
    return true;
}

// Named as a bench PC names its adapters, for the screenshots.
void BenchStage::plug(const Socket &socket)
{
    const int index = int(&socket - mSockets.data());
    // A socket without a modem names a port that is gone: it does not open.
    const QString port =
        socket.sim ? socket.sim->portName() : QStringLiteral("/dev/lorta-shots-gone-%1").arg(index);
    PortEntry entry =
        TestSupport::SocketBench::entry(port, QStringLiteral("1-1.%1").arg(index + 1));
    entry.name = QStringLiteral("ttyUSB%1").arg(index);
    entry.serialNumber = QStringLiteral("FT6Z%1").arg(4100 + index);
    mBench.plugEntry(entry);
}

void BenchStage::unplug(Socket &socket)
{
    mBench.unplug(socket.sim);
    socket.pulled = true;
}

// The sockets without a modem settle on their own, on the port that did not open. The emptied
// sockets are pulled once their job has ended green, the pulled one in the middle of its first
// file. The flashing ones are released when every other socket has its verdict, and the picture is
// ready when their bars are a quarter on.
bool BenchStage::advance(const std::function<int(int)> &toneOf, int flashingPercent)
{
    bool othersSettled = true;
    for (const Socket &socket : mSockets) {
        const int tone = toneOf(int(&socket - mSockets.data()));
        if (socket.role == Role::Emptied)
            othersSettled = othersSettled && socket.pulled && tone == SocketModel::Idle;
        else if (socket.role != Role::Flashing)
            othersSettled =
                othersSettled && (tone == SocketModel::Good || tone == SocketModel::Bad);
    }
    bool ready = othersSettled && flashingPercent >= 25;
    for (Socket &socket : mSockets) {
        const int tone = toneOf(int(&socket - mSockets.data()));
        switch (socket.role) {
        case Role::Pulled:
            if (!socket.pulled && socket.sim->dataBytesReceived() > pullAfterBytes)
                unplug(socket);
            ready = ready && socket.pulled && tone == SocketModel::Bad;
            break;
        case Role::Emptied:
            if (!socket.pulled && tone == SocketModel::Good)
                unplug(socket);
            ready = ready && socket.pulled && tone == SocketModel::Idle;
            break;
        case Role::Done:
        case Role::Refused:
        case Role::NoPort:
            ready = ready && (tone == SocketModel::Good || tone == SocketModel::Bad);
            break;
        case Role::Flashing:
            if (othersSettled && socket.sim->scriptRunning())
                socket.sim->stopScript("");
            break;
        }
    }
    return ready;
}

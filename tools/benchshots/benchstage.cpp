#include "benchstage.h"

#include "line/socketmodel.h"
#include "modemsim.h"

#include <QFileInfo>

namespace {
constexpr int pullAfterBytes = 700;
const char *const imeis[] = {"490154203237518", "356938035643809", "353918057628402",
                             "357805023984942", "354398024187535", "352099001761481",
                             "867530012345674", "351756051523999"};
} // namespace

BenchStage::BenchStage()
{
    const Role roles[] = {Role::Done,     Role::Flashing, Role::Refused, Role::Emptied,
                          Role::Flashing, Role::Done,     Role::Pulled, Role::Emptied};
    for (int i = 0; i < 8; ++i) {
        Socket socket;
        socket.role = roles[i];
        socket.location = QStringLiteral("1-1.%1").arg(i + 1);
        socket.sim = std::make_unique<ModemSim>();
        socket.sim->setImei(imeis[i]);
        socket.sim->setRestartSilenceMs(300);
        socket.sim->setPaced(socket.role == Role::Flashing || socket.role == Role::Pulled);
        if (socket.role == Role::Refused)
            socket.sim->addFault(ModemFault::onPrefix("at#wscript", ModemFault::Error, 1));
        socket.sim->setFile("settings.ini", "APN::modem.apn::Точка входа GPRS");
        mSockets.push_back(std::move(socket));
    }
}

BenchStage::~BenchStage() = default;

bool BenchStage::start(QString *error)
{
    for (Socket &socket : mSockets) {
        if (!socket.sim->start(error))
            return false;
        if (socket.role == Role::Flashing)
            socket.sim->startScript(); // no answer to the presence check until released
        plug(socket);
    }
    return true;
}

void BenchStage::plug(Socket &socket)
{
    PortEntry entry;
    entry.systemLocation = socket.sim->portName();
    entry.name = QStringLiteral("ttyUSB%1").arg(&socket - mSockets.data());
    entry.location = socket.location;
    entry.serialNumber = QStringLiteral("FT6Z%1").arg(4100 + (&socket - mSockets.data()));
    entry.vendorId = 0x0403;
    entry.productId = 0x6001;
    entry.hasIds = true;
    mPorts << entry;
    socket.plugged = true;
}

void BenchStage::unplug(Socket &socket)
{
    for (int i = 0; i < mPorts.size(); ++i) {
        if (mPorts.at(i).systemLocation == socket.sim->portName())
            mPorts.removeAt(i--);
    }
    socket.pulled = true;
}

// The emptied sockets are pulled once their job has ended green, the pulled
// one in the middle of its first file. The flashing ones are released when
// every other socket has its verdict, and the picture is ready when their
// bars are a quarter on.
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

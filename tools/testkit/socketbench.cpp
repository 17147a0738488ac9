#include "socketbench.h"

#include "modemsim.h"

#include <QFileInfo>

namespace TestSupport {

namespace {
const QByteArray settingsName = "settings.ini";
const QByteArray settingsContent = "APN::modem.apn::Точка входа GPRS";
} // namespace

SocketBench::SocketBench(int timeScale) : mTimeScale(timeScale) {}

SocketBench::~SocketBench() = default;

ModemSim *SocketBench::addModem(const QByteArray &imei, bool paced)
{
    auto sim = std::make_unique<ModemSim>();
    sim->setTimeScale(mTimeScale);
    sim->setPaced(paced);
    sim->setRestartSilenceMs(300);
    sim->setImei(imei);
    sim->setFile(settingsName, settingsContent);
    QString error;
    if (!sim->start(&error))
        qFatal("the simulated modem did not start: %s", qPrintable(error));
    mSims.push_back(std::move(sim));
    return mSims.back().get();
}

void SocketBench::swapIn(ModemSim *sim, const QByteArray &imei)
{
    sim->replaceWith(imei);
    sim->setFile(settingsName, settingsContent);
}

PortEntry SocketBench::plug(ModemSim *sim, const QString &location, quint16 productId)
{
    return plugPort(sim->portName(), location, productId);
}

PortEntry SocketBench::plugPort(const QString &systemLocation, const QString &location,
                                quint16 productId)
{
    const PortEntry plugged = entry(systemLocation, location, productId);
    plugEntry(plugged);
    return plugged;
}

PortEntry SocketBench::entry(const QString &systemLocation, const QString &location,
                             quint16 productId)
{
    PortEntry entry;
    entry.systemLocation = systemLocation;
    entry.name = QFileInfo(systemLocation).fileName().prepend(QStringLiteral("pts"));
    entry.location = location;
    entry.serialNumber = QStringLiteral("FT") + location;
    entry.vendorId = ftdiVendor;
    entry.productId = productId;
    entry.hasIds = true;
    return entry;
}

void SocketBench::unplug(ModemSim *sim)
{
    unplugPort(sim->portName());
}

void SocketBench::unplugPort(const QString &systemLocation)
{
    for (int i = 0; i < mPorts->size(); ++i) {
        if (mPorts->at(i).systemLocation == systemLocation)
            mPorts->removeAt(i--);
    }
}

PortLister SocketBench::lister() const
{
    const std::shared_ptr<QList<PortEntry>> ports = mPorts;
    return PortLister([ports] { return *ports; });
}

} // namespace TestSupport

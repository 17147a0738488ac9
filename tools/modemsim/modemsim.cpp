#include "modemsim.h"

#include "lineserver.h"
#include "ptyendpoint.h"
#include "sharedmodem.h"
#include "simclock.h"

#include <algorithm>

namespace {

constexpr int hangUpWaitMs = 2000;

qint64 nowMs()
{
    return simClockNs() / 1000000;
}

} // namespace

ModemSim::ModemSim()
    : mShared(std::make_unique<SharedModem>()), mPty(std::make_unique<PtyEndpoint>()),
      mRestartSilenceMs(ModemBehaviour::defaultRestartSilenceMs),
      mScriptIntervalMs(ModemBehaviour::defaultScriptIntervalMs)
{
}

ModemSim::~ModemSim()
{
    stop();
}

bool ModemSim::start(QString *error)
{
    if (mThread.joinable()) {
        if (error)
            *error = QStringLiteral("the simulated modem is already running");
        return false;
    }
    if (!mPty->open(error))
        return false;
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.powerUp();
        mShared->behaviour.setTrafficRecording(bool(mLog));
        mShared->hungUp = false;
    }
    mServer = std::make_unique<LineServer>(*mShared, *mPty, mLog);
    mServer->setPaced(mPaced);
    mServer->setTimeScale(mTimeScale);
    LineServer *server = mServer.get();
    mThread = std::thread([server] { server->run(); });
    return true;
}

void ModemSim::stop()
{
    if (!mThread.joinable())
        return;
    mServer->requestStop();
    mThread.join();
    mServer.reset();
    mPty->close();
}

bool ModemSim::isRunning() const
{
    return mThread.joinable();
}

QString ModemSim::portName() const
{
    return mPty->slavePath();
}

void ModemSim::setPaced(bool paced)
{
    mPaced = paced;
    if (mServer)
        mServer->setPaced(paced);
}

void ModemSim::setTimeScale(int divisor)
{
    mTimeScale = std::max(1, divisor);
    applyTimes();
}

void ModemSim::setRestartSilenceMs(int ms)
{
    mRestartSilenceMs = ms;
    applyTimes();
}

void ModemSim::setScriptOutputIntervalMs(int ms)
{
    mScriptIntervalMs = ms;
    applyTimes();
}

// Rounded up, so that no time of the real modem becomes none at all.
void ModemSim::applyTimes()
{
    const auto scaled = [this](int ms) {
        return ms <= 0 ? ms : (ms + mTimeScale - 1) / mTimeScale;
    };
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.setRestartSilenceMs(scaled(mRestartSilenceMs));
        mShared->behaviour.setScriptIntervalMs(scaled(mScriptIntervalMs));
    }
    wakeServer();
}

void ModemSim::setScriptOutput(const QByteArray &line)
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    mShared->behaviour.setScriptOutput(line);
}

void ModemSim::setImei(const QByteArray &imei)
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    mShared->behaviour.setImei(imei);
}

void ModemSim::setTrafficLog(const TrafficLog &log)
{
    mLog = log;
}

void ModemSim::setFile(const QByteArray &name, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    mShared->behaviour.store().set(name, bytes);
}

QList<QPair<QByteArray, QByteArray>> ModemSim::files() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.store().entries();
}

QByteArray ModemSim::file(const QByteArray &name) const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.store().content(name);
}

bool ModemSim::hasFile(const QByteArray &name) const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.store().contains(name);
}

QByteArray ModemSim::selectedScript() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.selectedScript();
}

void ModemSim::takeOut()
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    mShared->behaviour.takeOut();
}

void ModemSim::putIn()
{
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.putIn(nowMs());
    }
    wakeServer();
}

void ModemSim::replaceWith(const QByteArray &imei)
{
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.replaceWith(imei);
    }
    wakeServer();
}

void ModemSim::startScript()
{
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.startScript(nowMs());
    }
    wakeServer();
}

void ModemSim::stopScript(const QByteArray &reason)
{
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.stopScript(reason);
    }
    wakeServer();
}

bool ModemSim::scriptRunning() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.scriptRunning();
}

bool ModemSim::restarting() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.restartingAt(nowMs());
}

bool ModemSim::echo() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.echo();
}

void ModemSim::sendUnsolicited(const QByteArray &bytes)
{
    {
        std::lock_guard<std::mutex> lock(mShared->mutex);
        mShared->behaviour.sendUnsolicited(bytes);
    }
    wakeServer();
}

void ModemSim::addFault(const Fault &fault)
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    mShared->behaviour.faults().add(fault);
}

void ModemSim::hangUp()
{
    if (!mServer)
        return;
    std::unique_lock<std::mutex> lock(mShared->mutex);
    mShared->behaviour.requestHangUp();
    mServer->wake();
    mShared->changed.wait_for(lock, std::chrono::milliseconds(hangUpWaitMs),
                              [this] { return mShared->hungUp; });
}

QList<QByteArray> ModemSim::commands() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.commands();
}

qint64 ModemSim::dataBytesReceived() const
{
    std::lock_guard<std::mutex> lock(mShared->mutex);
    return mShared->behaviour.dataBytesReceived();
}

qint64 ModemSim::bytesSent() const
{
    return mServer ? mServer->bytesSent() : 0;
}

void ModemSim::wakeServer()
{
    if (mServer)
        mServer->wake();
}

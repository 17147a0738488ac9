#include "modemecho.h"

#include "console.h"

namespace {
QString modemLine(const QByteArray &line)
{
    return QStringLiteral("  modem <- ") + QString::fromLatin1(line);
}
} // namespace

ModemEcho::ModemEcho(QObject *parent) : QObject(parent) {}

ModemSim::TrafficLog ModemEcho::trafficLog()
{
    return [this](bool fromHost, const QByteArray &bytes) {
        if (!fromHost)
            return; // the log pane shows how the tool reads the modem's answers
        QMetaObject::invokeMethod(
            this, [this, bytes] { print(bytes); }, Qt::QueuedConnection);
    };
}

void ModemEcho::flush()
{
    if (mRepeats > 0)
        Console::say(modemLine(mLastLine) + QStringLiteral("   (%1 more times)").arg(mRepeats));
    mRepeats = 0;
}

void ModemEcho::print(const QByteArray &line)
{
    if (line == mLastLine) {
        ++mRepeats;
        return;
    }
    flush();
    mLastLine = line;
    Console::say(modemLine(line));
}

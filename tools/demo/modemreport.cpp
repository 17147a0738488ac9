#include "modemreport.h"

#include "modemsim.h"
#include "oldmodem.h"

#include <QFile>
#include <iterator>

namespace {
constexpr int nameWidth = -14; // left-aligned
constexpr int sizeWidth = 6;
const QByteArray scriptNames[] = {"main.pyo", "config.pyo"};

QByteArray payload(const QByteArray &name)
{
    QFile file(QStringLiteral(":/files/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

ModemReport::ModemReport(const ModemSim &sim) : mSim(sim) {}

QStringList ModemReport::fileLines() const
{
    QStringList lines;
    const auto files = mSim.files();
    for (const auto &file : files)
        lines << QStringLiteral("    %1 %2 bytes  %3")
                     .arg(QString::fromLatin1(file.first), nameWidth)
                     .arg(file.second.size(), sizeWidth)
                     .arg(describe(file.first, file.second));
    if (lines.isEmpty())
        lines << QStringLiteral("    (no files)");
    return lines;
}

QString ModemReport::scriptLine() const
{
    const QByteArray selected = mSim.selectedScript();
    return QStringLiteral("Start-up script selected: %1; script running: %2")
        .arg(selected.isEmpty() ? QStringLiteral("none") : QString::fromLatin1(selected),
             mSim.scriptRunning() ? QStringLiteral("yes") : QStringLiteral("no"));
}

QStringList ModemReport::faults() const
{
    QStringList faults;
    for (const QByteArray &name : scriptNames) {
        if (mSim.file(name) != payload(name))
            faults << QString::fromLatin1(name) + QStringLiteral(" is not the tool's");
    }
    if (mSim.file("settings.ini") != OldModem::settings())
        faults << QStringLiteral("the modem's own settings.ini was not kept");
    const int expectedFiles = int(std::size(scriptNames)) + 1;
    if (mSim.files().size() != expectedFiles)
        faults
            << QStringLiteral("%1 files instead of %2").arg(mSim.files().size()).arg(expectedFiles);
    if (mSim.selectedScript() != "main.pyo" || !mSim.scriptRunning())
        faults << QStringLiteral("main.pyo is not selected and running");
    return faults;
}

QString ModemReport::describe(const QByteArray &name, const QByteArray &bytes) const
{
    const QByteArray tools = payload(name);
    if (!tools.isEmpty() && bytes == tools)
        return QStringLiteral("the tool's %1, byte for byte").arg(QString::fromLatin1(name));
    if (name == "settings.ini" && bytes == OldModem::settings())
        return QStringLiteral("the modem's own settings (PIN 1234, APN depot.apn)");
    QFile local(QString::fromLatin1(name));
    if (local.open(QIODevice::ReadOnly) && bytes == local.readAll())
        return QStringLiteral("the local ") + QString::fromLatin1(name);
    if (bytes.startsWith("old "))
        return QStringLiteral("an old script");
    return QStringLiteral("unknown content");
}

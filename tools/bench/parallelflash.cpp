#include "parallelflash.h"
#include "benchio.h"
#include "modemfarm.h"

#include "cli/clirunner.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using BenchIo::out;
using BenchIo::residentMiB;
constexpr int stallProbeMs = 2;

// CPU time in ms of the whole process, the threads that have ended included:
// the workers end with their ports. The modems run in processes of their own.
double flasherCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Row
{
    int ports = 0;
    bool ok = false;
    double seconds = 0;
    double cpuMsPerPort = 0;
    double peakMiB = 0;
    qint64 maxStallMs = 0;
};

Row flashAtOnce(const QString &simulator, int count)
{
    Row row;
    row.ports = count;
    ModemFarm farm;
    if (!farm.start(simulator, count))
        return row;
    QStringList arguments{QStringLiteral("flash")};
    for (const QString &port : farm.ports())
        arguments << QStringLiteral("--port") << port;
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());

    QElapsedTimer gap;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(stallProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        row.maxStallMs = std::max(row.maxStallMs, gap.restart() - stallProbeMs);
        row.peakMiB = std::max(row.peakMiB, residentMiB());
    });
    QBuffer events;
    QBuffer errors;
    events.open(QIODevice::WriteOnly);
    errors.open(QIODevice::WriteOnly);
    const double cpuBefore = flasherCpuMs();
    QElapsedTimer clock;
    clock.start();
    gap.start();
    probe.start();
    // The first probe ticks inside the flasher's own event loop.
    row.ok = runCli(arguments, &events, &errors, false, Timing()) == CliRunner::Success;
    probe.stop();
    row.seconds = clock.elapsed() / 1000.0;
    row.cpuMsPerPort = (flasherCpuMs() - cpuBefore) / count;
    QDir::setCurrent(oldDir);
    return row;
}
} // namespace

bool measureParallelFlash(const QString &simulatorPath)
{
    out(QStringLiteral("flash on many ports at once (the flasher's code, paced simulated modems "
                       "in processes of their own):"));
    out(QStringLiteral("%1 %2 %3 %4 %5 %6")
            .arg(QStringLiteral("ports"), -6)
            .arg(QStringLiteral("wall s"), 8)
            .arg(QStringLiteral("x one"), 7)
            .arg(QStringLiteral("CPU ms/port"), 12)
            .arg(QStringLiteral("peak MiB"), 9)
            .arg(QStringLiteral("max loop stall ms"), 18));
    double oneSeconds = 0;
    bool allOk = true;
    for (int count : {1, 4, 8, 16}) {
        const Row row = flashAtOnce(simulatorPath, count);
        if (count == 1)
            oneSeconds = row.seconds;
        allOk = allOk && row.ok;
        out(QStringLiteral("%1 %2 %3 %4 %5 %6%7")
                .arg(row.ports, -6)
                .arg(row.seconds, 8, 'f', 1)
                .arg(oneSeconds > 0 ? row.seconds / oneSeconds : 0, 7, 'f', 3)
                .arg(row.cpuMsPerPort, 12, 'f', 0)
                .arg(row.peakMiB, 9, 'f', 1)
                .arg(row.maxStallMs, 18)
                .arg(row.ok ? QString() : QStringLiteral("  (a port failed)")));
    }
    return allOk;
}

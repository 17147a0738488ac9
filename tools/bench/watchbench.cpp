#include "watchbench.h"
#include "benchio.h"

#include "line/watchrun.h"
#include "modemsim.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

using BenchIo::out;
constexpr int sockets = 16;
constexpr int stallProbeMs = 2;
constexpr int idleSeconds = 10;
constexpr int flashTimeoutMs = 180000;

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!condition())
        loop.exec();
    return condition();
}

struct Bench
{
    std::vector<std::unique_ptr<ModemSim>> sims;
    QList<PortEntry> ports;
    QTemporaryDir dir;

    bool start(bool paced, bool scriptRunning)
    {
        for (int i = 0; i < sockets; ++i) {
            auto sim = std::make_unique<ModemSim>();
            sim->setPaced(paced);
            // A modem with settings of its own: the flash does not need the local file.
            sim->setFile("settings.ini", "APN::bench.apn::Точка входа GPRS");
            if (scriptRunning)
                sim->startScript();
            if (!sim->start())
                return false;
            sims.push_back(std::move(sim));
        }
        return true;
    }
    void plugAll()
    {
        for (int i = 0; i < sockets; ++i) {
            PortEntry entry;
            entry.systemLocation = sims.at(i)->portName();
            entry.name = entry.systemLocation;
            entry.location = QStringLiteral("1-1.%1").arg(i + 1);
            ports << entry;
        }
    }
    WatchOptions options(int count) const
    {
        WatchOptions options;
        options.journalFile = dir.filePath(QStringLiteral("journal.csv"));
        options.settingsFile = dir.filePath(QStringLiteral("settings.ini"));
        options.count = count;
        return options;
    }
};

// Appearance to first command, and the CPU while every socket waits for a
// modem whose script keeps it from answering.
void measureWaiting()
{
    Bench bench;
    if (!bench.start(false, true))
        return;
    WatchRun run(bench.options(0), PortLister([&bench] { return bench.ports; }));
    QString error;
    if (!run.start(&error))
        return;
    QElapsedTimer sincePlug;
    sincePlug.start();
    bench.plugAll();
    std::vector<qint64> firstCommandMs(sockets, -1);
    waitFor(
        [&] {
            for (int i = 0; i < sockets; ++i) {
                if (firstCommandMs[i] < 0 && !bench.sims[i]->commands().isEmpty())
                    firstCommandMs[i] = sincePlug.elapsed();
            }
            return std::none_of(firstCommandMs.begin(), firstCommandMs.end(),
                                [](qint64 ms) { return ms < 0; });
        },
        10000);
    std::sort(firstCommandMs.begin(), firstCommandMs.end());
    out(QStringLiteral("watch, %1 ports appearing at once: appearance -> first command, "
                       "fastest / median / slowest: %2 / %3 / %4 ms")
            .arg(sockets)
            .arg(firstCommandMs.front())
            .arg(firstCommandMs[sockets / 2])
            .arg(firstCommandMs.back()));

    const double before = cpuMs();
    waitFor([] { return false; }, idleSeconds * 1000);
    const double percent = (cpuMs() - before) / (idleSeconds * 10.0);
    out(QStringLiteral("watch, %1 sockets waiting (\"Ждём модем\", presence check on every "
                       "port): CPU %2 % of a core (the simulated modems' threads included)")
            .arg(sockets)
            .arg(percent, 0, 'f', 2));
    run.stopNow();
    waitFor([&run] { return run.finished(); }, 5000);
}

// Sixteen paced flashes at once, the event loop probed every 2 ms.
bool measureJobs()
{
    Bench bench;
    if (!bench.start(true, false))
        return false;
    WatchRun run(bench.options(sockets), PortLister([&bench] { return bench.ports; }));
    QString error;
    if (!run.start(&error))
        return false;
    qint64 maxStallMs = 0;
    qint64 plugStallMs = -1; // the largest stall until every socket's job has started
    QElapsedTimer gap;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(stallProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        maxStallMs = std::max(maxStallMs, gap.restart() - stallProbeMs);
        if (plugStallMs < 0 &&
            std::all_of(run.sockets().cbegin(), run.sockets().cend(),
                        [](const SocketRun *s) { return s->jobRunning(); }) &&
            run.sockets().size() == sockets) {
            plugStallMs = maxStallMs;
            maxStallMs = 0;
        }
    });
    QElapsedTimer clock;
    clock.start();
    gap.start();
    probe.start();
    bench.plugAll();
    const bool ended = waitFor([&run] { return run.finished(); }, flashTimeoutMs);
    probe.stop();
    out(QStringLiteral("watch, %1 paced flash jobs at once: %2 succeeded in %3 s, largest "
                       "event-loop stall %4 ms while the ports open and the jobs start, %5 ms "
                       "while the jobs run")
            .arg(sockets)
            .arg(run.succeeded())
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
            .arg(plugStallMs)
            .arg(maxStallMs));
    return ended && run.succeeded() == sockets;
}
} // namespace

bool measureWatch()
{
    measureWaiting();
    return measureJobs();
}

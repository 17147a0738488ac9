#include "watchbench.h"
#include "benchio.h"

#include "eventwait.h"
#include "line/listingschedule.h"
#include "line/socketnumbers.h"
#include "line/watchrun.h"
#include "stallmeter.h"
#include "watchrig.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

namespace {

using BenchIo::out;
using TestSupport::waitServingEvents;
constexpr int sockets = WatchRig::sockets;
constexpr int idleSeconds = 10;
constexpr int settleMs = 10000;
constexpr int flashTimeoutMs = 180000;

bool allWaiting(const WatchRun &run)
{
    const auto &all = run.sockets();
    return all.size() == sockets && std::all_of(all.cbegin(), all.cend(), [](const SocketRun *s) {
               return s->state() == SocketRun::State::Waiting;
           });
}

void stopWatch(WatchRun &run)
{
    run.stopNow();
    waitServingEvents([&run] { return run.finished(); }, settleMs);
}

// Appearance to first command, and the CPU while every socket's session is
// open and checks for a modem whose script keeps it from answering.
void measureWaiting(const QString &simulator)
{
    WatchRig rig(simulator);
    if (!rig.start(WatchRig::Modems::Silent))
        return;
    WatchRun run(rig.options(0), rig.lister());
    QString error;
    if (!run.start(&error))
        return;
    rig.plugAll();
    const std::vector<qint64> firstCommandMs = rig.waitForFirstCommands(settleMs);
    out(QStringLiteral("watch, %1 ports appearing at once: appearance -> first command, "
                       "fastest / median / slowest: %2 / %3 / %4 ms")
            .arg(sockets)
            .arg(firstCommandMs.front())
            .arg(firstCommandMs[sockets / 2])
            .arg(firstCommandMs.back()));
    waitServingEvents([&run] { return allWaiting(run); }, settleMs);
    const double percent = idleCpuPercent(idleSeconds);
    out(QStringLiteral("watch, %1 sockets waiting (\"Ждём модем\", presence check on every "
                       "port): CPU %2 % of a core, target under 1 %3")
            .arg(sockets)
            .arg(percent, 0, 'f', 2)
            .arg(allWaiting(run) ? QStringLiteral("%")
                                 : QStringLiteral("% (not every socket was waiting)")));
    stopWatch(run);
}

// Sixteen sockets in the numbers file, no adapter plugged: only the system's
// ports are looked at, twice a second. For a while after the start every look
// lists them in full; at rest a look only checks whether anything changed.
void measureListing()
{
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("journal.csv"));
    QByteArray numbers;
    for (int i = 1; i <= sockets; ++i)
        numbers += QByteArray::number(i) + ";1-1." + QByteArray::number(i) + '\n';
    QFile file(SocketNumbers::fileBeside(journal));
    if (!file.open(QIODevice::WriteOnly) || file.write(numbers) != numbers.size())
        return;
    file.close();
    WatchOptions options;
    options.journalFile = journal;
    options.filter = *UsbIdFilter::parse({QStringLiteral("0403:6001")});
    WatchRun run(options, PortLister());
    QString error;
    if (!run.start(&error))
        return;
    const int settleSeconds = static_cast<int>(options.timing.listingSettle.count() / 1000) + 1;
    const double starting = idleCpuPercent(settleSeconds);
    const double percent = idleCpuPercent(idleSeconds);
    out(QStringLiteral("watch, %1 sockets known, no adapter plugged (the system's ports looked "
                       "at twice a second): CPU %2 % of a core at rest, target under 1 %; "
                       "%3 % in the first %4 s, every look a full listing")
            .arg(sockets)
            .arg(percent, 0, 'f', 2)
            .arg(starting, 0, 'f', 2)
            .arg(settleSeconds));
    stopWatch(run);
}

// Sixteen paced flashes at once, the event loop probed every 2 ms.
bool measureJobs(const QString &simulator)
{
    WatchRig rig(simulator);
    if (!rig.start(WatchRig::Modems::Flashing))
        return false;
    WatchRun run(rig.options(sockets), rig.lister());
    QString error;
    if (!run.start(&error))
        return false;
    StallMeter stalls;
    qint64 plugStallMs = -1; // the largest stall until every socket's job has started
    stalls.setOnTick([&] {
        if (plugStallMs < 0 && run.sockets().size() == sockets &&
            std::all_of(run.sockets().cbegin(), run.sockets().cend(),
                        [](const SocketRun *s) { return s->jobRunning(); }))
            plugStallMs = stalls.takeMax();
    });
    QElapsedTimer clock;
    clock.start();
    stalls.start();
    rig.plugAll();
    const bool ended = waitServingEvents([&run] { return run.finished(); }, flashTimeoutMs);
    const qint64 runStallMs = stalls.stop();
    out(QStringLiteral("watch, %1 paced flash jobs at once: %2 succeeded in %3 s, largest "
                       "event-loop stall %4 ms while the ports open and the jobs start, %5 ms "
                       "while the jobs run and end (target under 20 ms)")
            .arg(sockets)
            .arg(run.succeeded())
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
            .arg(plugStallMs)
            .arg(runStallMs));
    return ended && run.succeeded() == sockets;
}
} // namespace

bool measureWatch(const QString &simulator)
{
    measureWaiting(simulator);
    measureListing();
    return measureJobs(simulator);
}

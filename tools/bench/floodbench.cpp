#include "floodbench.h"

#include "benchio.h"
#include "eventwait.h"

#include "log/logcomposer.h"
#include "log/logpane.h"
#include "modembench.h"
#include "modemsim.h"
#include "protocol/tooltexts.h"
#include "stallmeter.h"
#include "windowdriver.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

using BenchIo::out;
using BenchIo::residentMiB;
using TestSupport::waitServingEvents;

constexpr int floodIntervalMs = 10;
constexpr int floodBytes = 4096;
constexpr int settleMs = 10000; // memory is compared from here on
constexpr int msPerMinute = 60000;

// Runs the event loop for ms, calling the probe at every tick of the stall meter; returns
// the longest time beyond its interval the GUI thread did not get back to its loop.
qint64 runAndMeasureStalls(int ms, const std::function<void()> &probe)
{
    StallMeter stalls;
    stalls.setOnTick(probe);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    stalls.start();
    loop.exec();
    return stalls.stop();
}

// Fills the pane the window writes to with lines as long as a flood makes them, up to its
// character budget, so the run below meets the trims from its start.
void fillPane(QTextBrowser *view)
{
    LogPane pane(view);
    const QString line = LogComposer::stamp(QDateTime::currentDateTime()) +
                         ToolText::scriptStopPrefix() +
                         QString(LogComposer::maxReceivedCharacters, QLatin1Char('x'));
    while (view->document()->characterCount() + line.size() < LogPane::maxCharacters)
        pane.append(line);
}

int longestLine(QTextBrowser *view)
{
    int longest = 0;
    for (QTextBlock block = view->document()->firstBlock(); block.isValid(); block = block.next())
        longest = std::max(longest, block.length() - 1);
    return longest;
}

} // namespace

void measureFlood(int seconds)
{
    TestSupport::ModemBench bench;
    ModemSim &sim = bench.sim();
    sim.setPaced(false);
    QString error;
    if (!bench.start(&error)) {
        out(QStringLiteral("flood: cannot start the simulated modem: ") + error);
        return;
    }
    TestSupport::WindowDriver *ui = bench.ui();
    ui->openButton()->click();
    if (!waitServingEvents([ui] { return ui->jobButtonsEnabled(); }, 20000)) {
        out(QStringLiteral("flood: THE MODEM DID NOT ANSWER"));
        return;
    }
    fillPane(ui->log());
    const int blocksBefore = ui->log()->document()->blockCount();
    sim.setScriptOutput("Stop Script: " + QByteArray("line noise ").repeated(400).left(floodBytes));
    sim.setScriptOutputIntervalMs(floodIntervalMs);
    const qint64 sentBefore = sim.bytesSent();
    const double residentStart = residentMiB();
    sim.startScript();

    // Lines shown: the last line changes with every one, as each holds a new time stamp.
    int lines = 0;
    QString last;
    const auto countLine = [&] {
        const QString now = ui->log()->document()->lastBlock().text();
        lines += now != last;
        last = now;
    };
    const qint64 firstStall = runAndMeasureStalls(settleMs, countLine);
    const double residentSettled = residentMiB();
    const qint64 stall =
        std::max(firstStall, runAndMeasureStalls(seconds * 1000 - settleMs, countLine));
    const double residentEnd = residentMiB();
    const qint64 floodBytesSent = sim.bytesSent() - sentBefore;
    const QTextDocument *document = ui->log()->document();
    const int longest = longestLine(ui->log());
    const int paneCharacters = document->characterCount();
    const int paneLines = document->blockCount();

    QElapsedTimer clock;
    clock.start();
    ui->closePort();
    const qint64 closePortMs = clock.elapsed();
    ui->openPort(sim.portName());
    waitServingEvents([&] { return document->lastBlock().text().contains(QStringLiteral("!!!")); },
                      5000);
    clock.restart();
    bench.destroyWindow();
    const qint64 closeWindowMs = clock.elapsed();

    const auto row = [](const QString &what, const QString &figure) {
        out(QStringLiteral("%1 %2").arg(what, -40).arg(figure));
    };
    row(QStringLiteral("flood: what the modem sent:"),
        QStringLiteral("%1 KB/s for %2 s")
            .arg(floodBytesSent / 1024.0 / seconds, 0, 'f', 0)
            .arg(seconds));
    row(QStringLiteral("flood: max GUI stall:"),
        QStringLiteral("%1 ms   (target < 100 ms)").arg(stall));
    row(QStringLiteral("flood: lines shown, longest:"),
        QStringLiteral("%1 (%2 a second), %3 characters")
            .arg(lines)
            .arg(lines / double(seconds), 0, 'f', 1)
            .arg(longest));
    row(QStringLiteral("flood: pane after the run:"),
        QStringLiteral("%1 characters in %2 lines (filled with %3 lines; budget %4)")
            .arg(paneCharacters)
            .arg(paneLines)
            .arg(blocksBefore)
            .arg(LogPane::maxCharacters));
    row(QStringLiteral("flood: resident memory:"),
        QStringLiteral("%1 MiB at the start, %2 after %3 s, %4 at the end (%5 MiB a minute)")
            .arg(residentStart, 0, 'f', 1)
            .arg(residentSettled, 0, 'f', 1)
            .arg(settleMs / 1000)
            .arg(residentEnd, 0, 'f', 1)
            .arg((residentEnd - residentSettled) * msPerMinute / (seconds * 1000 - settleMs), 0,
                 'f', 2));
    row(QStringLiteral("flood: close the port, the window:"),
        QStringLiteral("%1 ms, %2 ms   (targets < 500 ms, < 1000 ms)")
            .arg(closePortMs)
            .arg(closeWindowMs));
}

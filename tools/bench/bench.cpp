// lorta-bench: runs the real window and worker against the paced simulated
// modem and prints what an operator would feel: how long each job takes next
// to its floors, the longest GUI freeze during it, how soon a transfer cut
// short ends, the CPU an idle open port costs, start-up time, memory, the
// cost of a log line, and the production line's watch and bench window with 16
// sockets.
#include "benchio.h"
#include "benchwindowbench.h"
#include "eventwait.h"
#include "fleetbench.h"
#include "floodbench.h"
#include "jobfloor.h"
#include "log/logcomposer.h"
#include "log/logpane.h"
#include "looptrace.h"
#include "modalcloser.h"
#include "modembench.h"
#include "modemsim.h"
#include "parallelflash.h"
#include "protocol/tooltexts.h"
#include "settings/settingsfile.h"
#include "stallmeter.h"
#include "ui/mainwindow.h"
#include "watchbench.h"
#include "windowdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSysInfo>
#include <QTextBrowser>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

using TestSupport::ModalCloser;
using TestSupport::ModemBench;
using TestSupport::waitServingEvents;
using TestSupport::WindowDriver;

namespace {

using BenchIo::out;
using BenchIo::residentMiB;

constexpr int idleSeconds = 10;

void idleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time in ms of the GUI thread and the serial worker thread ("SerialPort"),
// read from /proc so the simulated modem's own thread is not counted.
double toolThreadsCpuMs()
{
    const long ticks = sysconf(_SC_CLK_TCK);
    double total = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
            continue;
        const bool gui = tid.toLongLong() == getpid();
        if (!gui && comm.readAll().trimmed() != "SerialPort")
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        total += (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 / ticks;
    }
    return total;
}

long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct JobRun
{
    QString name;
    QString button;
    QString box;
};

class Bench
{
public:
    bool setUp();
    void measureLink();
    void measureIdleCpu();
    bool runJob(const JobRun &job);
    void measureCutShort();
    void measureLog();
    void measureStartup(const QString &self);

private:
    ModemBench mBench; // a folder of its own, the simulated modem and the window
    ModemSim &mSim = mBench.sim();
    WindowDriver *mUi = nullptr;
    StallMeter mStalls;
};

bool Bench::setUp()
{
    writeLinesToFile(QStringLiteral("settings.ini"), defaultSettings());
    mSim.setRestartSilenceMs(1500);
    mSim.setFile("main.pyo", QByteArray(9000, 'm'));
    mSim.setFile("config.pyo", QByteArray(1800, 'c'));
    mSim.setFile("settings.ini", "APN::old::Точка входа GPRS");
    QString error;
    if (!mBench.start(&error)) {
        out(QStringLiteral("cannot start the simulated modem: ") + error);
        return false;
    }
    mUi = mBench.ui();
    return true;
}

void Bench::measureLink()
{
    QElapsedTimer clock;
    clock.start();
    mUi->openButton()->click();
    waitServingEvents([this] { return mUi->jobButtonsEnabled(); }, 20000);
    out(QStringLiteral("%1 %2 ms   (floor 1700 ms: start delay 450 + five 250 ms exchanges)")
            .arg(QStringLiteral("port open -> job buttons enabled:"), -40)
            .arg(clock.elapsed()));
}

void Bench::measureIdleCpu()
{
    for (bool checking : {true, false}) {
        mUi->presenceBox()->setChecked(checking);
        idleFor(1000);
        const double before = toolThreadsCpuMs();
        QElapsedTimer clock;
        clock.start();
        idleFor(idleSeconds * 1000);
        const double share = 100.0 * (toolThreadsCpuMs() - before) / clock.elapsed();
        out(QStringLiteral("%1 %2 % of a core   (target < 2 %)")
                .arg(checking ? QStringLiteral("idle CPU, port open, presence check on:")
                              : QStringLiteral("idle CPU, port open, presence check off:"),
                     -40)
                .arg(share, 0, 'f', 2));
    }
    mUi->presenceBox()->setChecked(true);
    waitServingEvents([this] { return mUi->jobButtonsEnabled(); }, 20000);
}

bool Bench::runJob(const JobRun &job)
{
    ModalCloser closer;
    const int before = mSim.commands().size();
    const qint64 dataBefore = mSim.dataBytesReceived();
    const qint64 sentBefore = mSim.bytesSent();
    QElapsedTimer clock;
    mStalls.start();
    clock.start();
    mUi->button(job.button)->click();
    const bool ended = waitServingEvents([&] { return closer.seen().contains(job.box); }, 180000);
    const qint64 elapsed = clock.elapsed();
    const qint64 stall = mStalls.stop();
    const QList<QByteArray> commands = mSim.commands().mid(before);
    const JobFloor floor = JobFloor::of(commands, mSim.dataBytesReceived() - dataBefore,
                                        mSim.bytesSent() - sentBefore, Timing());
    out(QStringLiteral("%1 %2 ms  %3 ms  %4 ms  %5 %  %6 ms  %7")
            .arg(job.name, -20)
            .arg(elapsed, 8)
            .arg(floor.designMs, 8, 'f', 0)
            .arg(floor.lineMs, 8, 'f', 0)
            .arg(100.0 * (elapsed - floor.designMs) / floor.designMs, 6, 'f', 1)
            .arg(stall, 4)
            .arg(ended ? QString() : QStringLiteral("DID NOT END: ") + closer.seen().join('|')));
    if (mSim.scriptRunning())
        mSim.stopScript("bench");
    waitServingEvents([this] { return mUi->jobButtonsEnabled(); }, 30000);
    return ended;
}

// A flash cut short in the middle of main.pyo's bytes: how soon the port is
// closed after the click, and how soon a lost line ends the job with its box.
void Bench::measureCutShort()
{
    const auto flashIntoTheBytes = [this] {
        const qint64 before = mSim.dataBytesReceived();
        mUi->button(ToolText::flashButton())->click();
        return waitServingEvents([&] { return mSim.dataBytesReceived() - before > 1000; }, 60000);
    };
    if (!flashIntoTheBytes()) {
        out(QStringLiteral("close during a file transfer: THE TRANSFER DID NOT START"));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    mUi->closePort();
    out(QStringLiteral("%1 %2 ms   (target < 500 ms; click to \"Порт закрыт\")")
            .arg(QStringLiteral("close during a file transfer:"), -40)
            .arg(clock.elapsed()));
    // The modem still waits for the rest of the file: power it off and on.
    mSim.stop();
    QString error;
    mSim.start(&error);
    mUi->openPort(mSim.portName());
    waitServingEvents([this] { return mUi->jobButtonsEnabled(); }, 20000);

    ModalCloser closer;
    if (!flashIntoTheBytes()) {
        out(QStringLiteral("lost port -> failure box: THE TRANSFER DID NOT START"));
        return;
    }
    clock.restart();
    mSim.hangUp();
    const bool failed = waitServingEvents([&] { return !closer.seen().isEmpty(); }, 60000);
    out(QStringLiteral("%1 %2 ms   (target < 1000 ms; %3)")
            .arg(QStringLiteral("lost port -> job's failure box:"), -40)
            .arg(clock.elapsed())
            .arg(failed ? closer.seen().constFirst() : QStringLiteral("NO BOX")));
    mUi->closePort();
}

void Bench::measureLog()
{
    QWidget host;
    host.resize(600, 400);
    auto *view = new QTextBrowser(&host);
    view->resize(580, 250);
    host.show();
    LogPane pane(view);
    LogComposer composer;
    int lines = 0;
    const auto fillTo = [&](int target) {
        for (; lines < target; ++lines)
            pane.append(LogComposer::stamp(QDateTime::currentDateTime()) +
                        QStringLiteral("Выполняется скрипт: v1.08"));
    };
    const auto perLineUs = [&] {
        constexpr int samples = 2000;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < samples; ++i) {
            const QString line = composer.compose(QDateTime::currentDateTime(),
                                                  i % 2 ? QStringLiteral("v1.08") : QString(),
                                                  MessageKind::Received, true, 0, pane.lastLine());
            if (!line.isEmpty())
                pane.append(line);
            QCoreApplication::processEvents();
        }
        lines += samples;
        return clock.nsecsElapsed() / 1000.0 / samples;
    };
    const double before = residentMiB();
    for (int size : {1000, 200000}) {
        fillTo(size);
        QCoreApplication::processEvents();
        out(QStringLiteral("%1 %2 us per line")
                .arg(QStringLiteral("appendLog after %1 lines:").arg(size), -40)
                .arg(perLineUs(), 0, 'f', 1));
    }
    out(QStringLiteral("%1 %2 MiB more than empty   (%3 lines kept)")
            .arg(QStringLiteral("log pane memory after 200,000 lines:"), -40)
            .arg(residentMiB() - before, 0, 'f', 1)
            .arg(view->document()->blockCount()));
}

void Bench::measureStartup(const QString &self)
{
    QElapsedTimer clock;
    clock.start();
    const int code = QProcess::execute(self, {QStringLiteral("--startup-probe")});
    out(QStringLiteral("%1 %2 ms   (target < 1000 ms; process start to first paint%3)")
            .arg(QStringLiteral("start-up to the first shown window:"), -40)
            .arg(clock.elapsed())
            .arg(code == 0 ? QString() : QStringLiteral(", PROBE FAILED")));
}

// Started as a child: builds the window, shows it and exits at its first paint.
int startupProbe(QApplication &app)
{
    MainWindow window;
    struct PaintWatch : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                QTimer::singleShot(0, qApp, [] { qApp->exit(0); });
            return false;
        }
    } watch;
    window.installEventFilter(&watch);
    window.show();
    QTimer::singleShot(10000, &app, [&app] { app.exit(1); });
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    TracingApplication app(argc, argv);
    app.setTracing(app.arguments().contains(QStringLiteral("--trace-loop")));
    if (app.arguments().contains(QStringLiteral("--startup-probe")))
        return startupProbe(app);
    const QString simulator = QStringLiteral(LORTA_MODEM_SIM_PATH);
    if (app.arguments().contains(QStringLiteral("--parallel")))
        return measureParallelFlash(simulator) ? 0 : 1;
    if (app.arguments().contains(QStringLiteral("--watch")))
        return measureWatch(simulator) ? 0 : 1;
    if (app.arguments().contains(QStringLiteral("--bench-window")))
        return measureBenchWindow(simulator) ? 0 : 1;
    // The floor's server: 20 benches of 16 sockets at once, 100 records each
    // (--fleet, about half a minute), or 1,000 each (--fleet-full, over three
    // minutes on two cores).
    if (app.arguments().contains(QStringLiteral("--fleet-full")))
        return measureFleet(20, 16, 1000) ? 0 : 1;
    if (app.arguments().contains(QStringLiteral("--fleet")))
        return measureFleet(20, 16, 100) ? 0 : 1;
    constexpr int floodSeconds = 60;
    if (app.arguments().contains(QStringLiteral("--flood-only"))) {
        measureFlood(floodSeconds);
        return 0;
    }

    out(QStringLiteral("machine: %1, %2 cores, Qt %3, platform %4")
            .arg(QSysInfo::prettyProductName())
            .arg(QThread::idealThreadCount())
            .arg(QString::fromLatin1(qVersion()), QGuiApplication::platformName()));
    Bench bench;
    if (!bench.setUp())
        return 1;
    bench.measureLink();
    bench.measureIdleCpu();

    out(QString());
    out(QStringLiteral("%1 %2     %3     %4     %5    %6")
            .arg(QStringLiteral("job"), -20)
            .arg(QStringLiteral("duration"), 8)
            .arg(QStringLiteral("design"), 8)
            .arg(QStringLiteral("line"), 8)
            .arg(QStringLiteral("over"), 6)
            .arg(QStringLiteral("max GUI stall")));
    bool allEnded = true;
    for (const JobRun &job :
         {JobRun{QStringLiteral("flash"), ToolText::flashButton(),
                 ToolText::successTitle() + QLatin1Char('|') + ToolText::flashed()},
          JobRun{QStringLiteral("load settings"), ToolText::loadButton(),
                 ToolText::successTitle() + QLatin1Char('|') + ToolText::loaded()},
          JobRun{QStringLiteral("read settings"), ToolText::readButton(),
                 ToolText::settingsTitle() + QLatin1Char('|')},
          JobRun{QStringLiteral("clear"), ToolText::clearButton(),
                 ToolText::successTitle() + QLatin1Char('|') + ToolText::cleared()}})
        allEnded = bench.runJob(job) && allEnded;
    out(QString());
    bench.measureCutShort();
    out(QStringLiteral("%1 %2 MiB")
            .arg(QStringLiteral("peak memory after the jobs:"), -40)
            .arg(peakMemoryKiB() / 1024.0, 0, 'f', 1));
    bench.measureStartup(app.applicationFilePath());
    bench.measureLog();
    measureFlood(floodSeconds);
    out(QString());
    allEnded = measureParallelFlash(simulator) && allEnded;
    allEnded = measureWatch(simulator) && allEnded;
    allEnded = measureBenchWindow(simulator) && allEnded;
    return allEnded ? 0 : 1;
}

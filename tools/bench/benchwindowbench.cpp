#include "benchwindowbench.h"
#include "benchio.h"

#include "eventwait.h"
#include "line/socketmodel.h"
#include "stallmeter.h"
#include "ui/benchwindow.h"
#include "watchrig.h"

#include <QLineEdit>
#include <QPushButton>
#include <memory>

namespace {

using BenchIo::out;
using TestSupport::waitServingEvents;
constexpr int sockets = WatchRig::sockets;
constexpr int idleSeconds = 10;
constexpr int settleMs = 10000;
constexpr int flashTimeoutMs = 180000;

// The window as an operator starts it: journal and settings file chosen, "Начать".
std::unique_ptr<BenchWindow> startWindow(const WatchRig &rig)
{
    auto window = std::make_unique<BenchWindow>(rig.lister(), nullptr);
    window->findChild<QLineEdit *>(QStringLiteral("editJournal"))->setText(rig.journalFile());
    window->setSettingsFile(rig.settingsFile());
    window->show();
    window->findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
    return window->running() ? std::move(window) : nullptr;
}

int tilesWith(const BenchWindow &window, const QString &state)
{
    const SocketModel *model = window.model();
    int count = 0;
    for (int row = 0; row < model->rowCount(); ++row)
        count += model->index(row, 0).data(SocketModel::StateTextRole).toString() == state;
    return count;
}

bool measureFlashing(const QString &simulator)
{
    WatchRig rig(simulator);
    if (!rig.start(WatchRig::Modems::Flashing))
        return false;
    const std::unique_ptr<BenchWindow> window = startWindow(rig);
    if (!window)
        return false;
    const SocketModel *model = window->model();
    StallMeter stalls;
    stalls.start();
    rig.plugAll();
    const bool ended = waitServingEvents(
        [model] { return model->succeeded() + model->failed() == sockets; }, flashTimeoutMs);
    const qint64 stallMs = stalls.stop();
    out(QStringLiteral("bench window, %1 paced flash jobs at once: %2 succeeded, largest GUI "
                       "stall %3 ms (target under 20 ms)")
            .arg(sockets)
            .arg(model->succeeded())
            .arg(stallMs));
    window->close();
    return ended && model->succeeded() == sockets;
}

void measureWaiting(const QString &simulator)
{
    WatchRig rig(simulator);
    if (!rig.start(WatchRig::Modems::Silent))
        return;
    const std::unique_ptr<BenchWindow> window = startWindow(rig);
    if (!window)
        return;
    rig.plugAll();
    rig.waitForFirstCommands(settleMs);
    // Every port open with the presence check running (each has had its first
    // command), no answer yet: the tiles say "Ждём модем".
    const QString waiting = QStringLiteral("Ждём модем");
    waitServingEvents([&] { return tilesWith(*window, waiting) == sockets; }, settleMs);
    const double percent = idleCpuPercent(idleSeconds);
    out(QStringLiteral("bench window, %1 sockets waiting (ports open, presence check on every "
                       "one, tiles \"Ждём модем\"): CPU %2 % of a core, target under 1 %3")
            .arg(sockets)
            .arg(percent, 0, 'f', 2)
            .arg(tilesWith(*window, waiting) == sockets
                     ? QStringLiteral("%")
                     : QStringLiteral("% (not every tile was waiting)")));
    window->close();
}
} // namespace

bool measureBenchWindow(const QString &simulator)
{
    measureWaiting(simulator);
    return measureFlashing(simulator);
}

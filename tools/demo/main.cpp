// lorta-demo: one complete flash through the real window of the tool, against
// the simulated modem on a pseudo-terminal, told step by step on the terminal.
// Exit code 0 only when the flash ended in "Модем прошит" and the modem holds
// what it should; 1 when it did not, 2 for a bad command line, 3 on a hang.

#include "console.h"
#include "demooptions.h"
#include "demorun.h"
#include "watchdog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

namespace {
// Past the run's own time limit, only a stuck GUI thread keeps the process alive.
constexpr int watchdogGraceS = 20;
constexpr int defaultTimeoutS = 180;

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Flashes a simulated modem through the real window of Flash ЛОРТА-МОДЕМ "
                       "and tells each step. Without a display it uses the offscreen platform."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("shots"), QStringLiteral("Save screenshots of the window into <dir>."),
         QStringLiteral("dir")},
        {QStringLiteral("no-pacing"),
         QStringLiteral("Let bytes cross the simulated line at once instead of at 9600 bit/s.")},
        {QStringLiteral("timeout"),
         QStringLiteral("Give up after <seconds> (default %1).").arg(defaultTimeoutS),
         QStringLiteral("seconds"), QString::number(defaultTimeoutS)},
    });
}

bool noDisplay()
{
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}
} // namespace

int main(int argc, char *argv[])
{
    // Without a display the window still runs and renders, only off screen.
    const bool offscreen = noDisplay();
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorta-demo"));
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    DemoOptions options;
    bool valid = false;
    options.timeoutS = parser.value(QStringLiteral("timeout")).toInt(&valid);
    if (!valid || options.timeoutS <= 0) {
        Console::warn(QStringLiteral("lorta-demo: --timeout needs a positive number of seconds"));
        return 2;
    }
    options.paced = !parser.isSet(QStringLiteral("no-pacing"));
    if (parser.isSet(QStringLiteral("shots")))
        options.shotsFolder = QDir(parser.value(QStringLiteral("shots"))).absolutePath();
    if (offscreen)
        Console::say(QStringLiteral("No display: using Qt's offscreen platform (nothing on "
                                    "screen; the log and the screenshots still show it all)"));

    Watchdog watchdog(std::chrono::seconds(options.timeoutS + watchdogGraceS));
    DemoRun run(options);
    return run.exec();
}

#include "cli/clirunner.h"
#include "cli/consolestream.h"
#include "cli/interruptwatcher.h"

#include <QCoreApplication>

namespace {
constexpr int standardOutput = 1;
constexpr int standardError = 2;
} // namespace

int main(int argc, char *argv[])
{
    InterruptWatcher::catchSignals();
    QCoreApplication app(argc, argv);
    ConsoleStream out(standardOutput);
    ConsoleStream err(standardError);
    return runCli(app.arguments().mid(1), &out, &err, InterruptWatcher::outputIsTerminal(),
                  Timing());
}

// `lorta-flash-cli watch` for tests that run watches as processes of their own:
// the same main (signals caught first, the console streams, the whole watch
// console and its exit status), but the ports come from a file the test keeps
// instead of the system's list, which never shows a simulated modem's
// pseudo-terminal, and the waits are the tests' fast scale (the modems are
// simulated as much faster).
//
//   lorta-watch-host PORTS-FILE watch flash|load-settings [options of the watch]
//
// PORTS-FILE holds one FTDI adapter a line, "<device path>\t<USB position>"; a
// missing file is no port. The test replaces it whole (a rename) to plug or pull.
#include "cli/consolestream.h"
#include "cli/interruptwatcher.h"
#include "cli/watchconsole.h"
#include "testtiming.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr int standardOutput = 1;
constexpr int standardError = 2;
constexpr int usageError = 2;

QList<PortEntry> portsIn(const QString &fileName)
{
    QList<PortEntry> ports;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return ports;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 2)
            continue;
        PortEntry entry;
        entry.systemLocation = QString::fromUtf8(fields.at(0));
        entry.name = QStringLiteral("pts") + QFileInfo(entry.systemLocation).fileName();
        entry.location = QString::fromUtf8(fields.at(1));
        entry.serialNumber = QStringLiteral("FT") + entry.location;
        entry.vendorId = 0x0403;
        entry.productId = 0x6001;
        entry.hasIds = true;
        entry.device = PortLister::deviceNode(entry.systemLocation);
        ports << entry;
    }
    return ports;
}
} // namespace

int main(int argc, char *argv[])
{
    InterruptWatcher::catchSignals();
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    ConsoleStream out(standardOutput);
    ConsoleStream err(standardError);
    if (arguments.size() < 2 || arguments.at(1) != QLatin1String("watch")) {
        err.write("usage: lorta-watch-host PORTS-FILE watch flash|load-settings [options]\n");
        err.waitForBytesWritten(1000);
        return usageError;
    }
    const QString portsFile = arguments.at(0);
    // Reading the file is reentrant: the watch lists off its event loop's
    // thread, as it does the system's ports.
    const PortLister lister([portsFile] { return portsIn(portsFile); }, true);
    return runWatch(arguments.mid(2), &out, &err, InterruptWatcher::outputIsTerminal(),
                    TestSupport::fastTiming(), lister);
}

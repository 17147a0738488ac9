// lorta-modem-sim: serves a simulated modem on a pseudo-terminal until SIGINT or SIGTERM.
// The first line on stdout is the port to open in the program.

#include "modemsim.h"
#include "oldmodem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <pthread.h>

namespace {

QByteArray printable(const QByteArray &bytes)
{
    QByteArray text;
    for (const char c : bytes) {
        const uchar u = uchar(c);
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (u < 0x20 || u >= 0x7f || c == '\\')
            text += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            text += c;
    }
    return text;
}

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QFile out(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size();
}

bool preloadFiles(ModemSim &sim, const QStringList &pairs)
{
    for (const QString &pair : pairs) {
        const int equals = pair.indexOf(QLatin1Char('='));
        QFile source(pair.mid(equals + 1));
        if (equals <= 0 || !source.open(QIODevice::ReadOnly)) {
            fprintf(stderr, "lorta-modem-sim: cannot load --file %s\n", qPrintable(pair));
            return false;
        }
        sim.setFile(pair.left(equals).toUtf8(), source.readAll());
    }
    return true;
}

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Simulated GSM modem on a pseudo-terminal. Prints the port to open "
                       "on its first line, then serves until SIGINT or SIGTERM."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("no-pacing"), QStringLiteral("Do not hold the line to 9600 bit/s.")},
        {QStringLiteral("restart-silence"),
         QStringLiteral("Silence after at#enhrst=1,0 in ms (default 3000)."), QStringLiteral("ms")},
        {QStringLiteral("script-interval"),
         QStringLiteral("Interval of the running script's output in ms (default 2000)."),
         QStringLiteral("ms")},
        {QStringLiteral("file"), QStringLiteral("Preload a modem file (repeatable)."),
         QStringLiteral("name=path")},
        {QStringLiteral("demo"),
         QStringLiteral("Preload old main.pyo, config.pyo and a settings.ini.")},
        {QStringLiteral("script-running"), QStringLiteral("Start with the script running.")},
        {QStringLiteral("imei"),
         QStringLiteral("Answer at+cgsn with these digits (default 490154203237518; an empty "
                        "value: OK alone)."),
         QStringLiteral("digits")},
        {QStringLiteral("log"), QStringLiteral("Print each command and answer to stderr.")},
        {QStringLiteral("dump"),
         QStringLiteral("On exit, write the received command lines to DIR/commands.txt and "
                        "each modem file to DIR/files/NAME."),
         QStringLiteral("dir")},
    });
}

bool configure(ModemSim &sim, const QCommandLineParser &parser)
{
    sim.setPaced(!parser.isSet(QStringLiteral("no-pacing")));
    if (parser.isSet(QStringLiteral("restart-silence")))
        sim.setRestartSilenceMs(parser.value(QStringLiteral("restart-silence")).toInt());
    if (parser.isSet(QStringLiteral("script-interval")))
        sim.setScriptOutputIntervalMs(parser.value(QStringLiteral("script-interval")).toInt());
    if (parser.isSet(QStringLiteral("demo"))) {
        OldModem::preload(sim);
    }
    if (parser.isSet(QStringLiteral("imei")))
        sim.setImei(parser.value(QStringLiteral("imei")).toLatin1());
    if (parser.isSet(QStringLiteral("log"))) {
        sim.setTrafficLog([](bool fromHost, const QByteArray &bytes) {
            fprintf(stderr, "%s %s\n", fromHost ? "<<" : ">>", printable(bytes).constData());
        });
    }
    return preloadFiles(sim, parser.values(QStringLiteral("file")));
}

// What the modem ended up with, for a caller that checks a run from outside the process
// (the USB rig): the command lines as received and every stored file byte for byte.
bool dumpState(const ModemSim &sim, const QString &dirPath)
{
    QDir dir(dirPath);
    if (!dir.mkpath(QStringLiteral("files")))
        return false;
    QByteArray commands;
    for (const QByteArray &line : sim.commands())
        commands += printable(line) + '\n';
    bool ok = writeWhole(dir.filePath(QStringLiteral("commands.txt")), commands);
    for (const auto &file : sim.files()) {
        // A name that could leave the folder is skipped rather than written elsewhere.
        const QString name = QString::fromUtf8(file.first);
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
            continue;
        ok = writeWhole(dir.filePath(QStringLiteral("files/") + name), file.second) && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    // Taken by sigwait() below; blocked before the sim's thread exists, so it inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorta-modem-sim"));
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    ModemSim sim;
    if (!configure(sim, parser))
        return 2;
    QString error;
    if (!sim.start(&error)) {
        fprintf(stderr, "lorta-modem-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (parser.isSet(QStringLiteral("script-running")))
        sim.startScript();
    printf("%s\n", qPrintable(sim.portName()));
    fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim.stop();
    if (parser.isSet(QStringLiteral("dump")) &&
        !dumpState(sim, parser.value(QStringLiteral("dump")))) {
        fprintf(stderr, "lorta-modem-sim: cannot write --dump %s\n",
                qPrintable(parser.value(QStringLiteral("dump"))));
        return 1;
    }
    return 0;
}

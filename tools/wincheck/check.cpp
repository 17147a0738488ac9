// lorta-win-check: the Windows build proven end to end. The simulated modem runs
// here, natively, on a pseudo-terminal; the tool's real window runs in
// lorta-win-driver under Wine, through the Windows serial backend, on the COM
// port that the Wine prefix maps to a link this program points at each modem's
// terminal. The same flash also runs through a native driver, for the ratio of
// the two. Prints one PASS or FAIL line per check, the measured figures, and
// "N passed, N failed"; exits 1 when any check failed.

#include "modemsim.h"
#include "oldmodem.h"
#include "protocol/tooltexts.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

constexpr int driverStartMs = 60000; // the first Wine start of a prefix is slow
constexpr int readyMs = 30000;
constexpr int jobMs = 240000;
constexpr int replyMs = 15000;
constexpr int answerSlackMs = 400; // the worker's write and read waits, and Wine's pace
constexpr int closeLimitMs = 500;
constexpr int lostLineLimitMs = 1000;
constexpr int midFileBytes = 2000; // of main.pyo's 12,859
const QString noLinkLine = ToolText::noConnection();

void out(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Starts a command (program and arguments) with more arguments. A program named
// relative to ours is made absolute: the process may run in another folder.
void startCommand(QProcess &process, const QStringList &command, const QStringList &more = {})
{
    const QFileInfo program(command.constFirst());
    process.start(program.exists() ? program.absoluteFilePath() : program.filePath(),
                  command.mid(1) + more);
}

// The arguments of a flash on one port that journals into "journal.log".
QStringList flashArguments(const QString &port)
{
    return {QStringLiteral("flash"), QStringLiteral("--port"), port, QStringLiteral("--log"),
            QStringLiteral("journal.log")};
}

QByteArray journalIn(const QTemporaryDir &dir)
{
    QFile journal(dir.path() + QStringLiteral("/journal.log"));
    return journal.open(QIODevice::ReadOnly) ? journal.readAll() : QByteArray();
}

QByteArray resource(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Report
{
    int passed = 0;
    int failed = 0;
    QStringList figures;

    bool check(bool ok, const QString &what, const QString &detail = QString())
    {
        ++(ok ? passed : failed);
        out((ok ? QStringLiteral("PASS ") : QStringLiteral("FAIL ")) + what +
            (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
        return ok;
    }
    void figure(const QString &name, const QString &value)
    {
        figures << name + QStringLiteral(": ") + value;
        out(QStringLiteral("  ") + figures.constLast());
    }
};

// Where the driver runs: its command line, and how it reaches the modem's
// terminal (Wine: a fixed COM name whose link is re-pointed; natively: the path).
struct Target
{
    QString label;
    QStringList command;
    QString link;
    QString comName;

    QString port(const ModemSim &sim) const { return link.isEmpty() ? sim.portName() : comName; }
};

// One driver process: lines out, replies in; box events are kept aside as they come.
class Driver
{
public:
    bool start(const Target &target, const QString &workDir)
    {
        mProcess.setWorkingDirectory(workDir);
        mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startCommand(mProcess, target.command);
        return mProcess.waitForStarted(driverStartMs) &&
               !expect("driver-up", driverStartMs).isNull();
    }

    ~Driver()
    {
        if (mProcess.state() == QProcess::NotRunning)
            return;
        send(QStringLiteral("quit"));
        if (!mProcess.waitForFinished(replyMs)) {
            mProcess.kill();
            mProcess.waitForFinished();
        }
    }

    void send(const QString &line)
    {
        mProcess.write(line.toUtf8() + '\n');
        mProcess.waitForBytesWritten(replyMs);
    }

    // The rest of the next reply that starts with `word`, or a null string on
    // time-out; replies before it are dropped.
    QString expect(const QString &word, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            while (!mLines.isEmpty()) {
                const QString line = mLines.takeFirst();
                if (line.section(QLatin1Char(' '), 0, 0) == word)
                    return line.section(QLatin1Char(' '), 1);
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0 || !pump(static_cast<int>(left)))
                return QString();
        }
    }

    QString ask(const QString &line, const QString &word, int timeoutMs = replyMs)
    {
        send(line);
        return expect(word, timeoutMs);
    }

    // Reads the driver's output until condition() holds; false on time-out.
    bool until(const std::function<bool()> &condition, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            pump(5);
        }
        return true;
    }

    QStringList boxes() const { return mBoxes; } // "EPOCH_MS TITLE|TEXT"
    QStringList tiles() const { return mTiles; } // "N|PORT|STATE|DETAIL", as they changed

    QStringList log()
    {
        send(QStringLiteral("log"));
        QStringList lines;
        until(
            [&] {
                while (!mLines.isEmpty()) {
                    const QString line = mLines.takeFirst();
                    if (line == QLatin1String("log-end"))
                        return true;
                    if (line.startsWith(QLatin1String("log ")))
                        lines << line.mid(4);
                }
                return false;
            },
            replyMs);
        return lines;
    }

private:
    bool pump(int timeoutMs)
    {
        if (!mProcess.waitForReadyRead(timeoutMs) && mProcess.bytesAvailable() == 0)
            return mProcess.state() == QProcess::Running;
        mBuffer += mProcess.readAllStandardOutput();
        int end;
        while ((end = mBuffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(mBuffer.left(end)).trimmed();
            mBuffer.remove(0, end + 1);
            if (line.startsWith(QLatin1String("box ")))
                mBoxes << line.mid(4);
            else if (line.startsWith(QLatin1String("tile ")))
                mTiles << line.mid(5);
            else
                mLines << line;
        }
        return true;
    }

    QProcess mProcess;
    QByteArray mBuffer;
    QStringList mLines;
    QStringList mBoxes;
    QStringList mTiles;
};

QString boxText(const QString &box)
{
    return box.section(QLatin1Char(' '), 1);
}

qint64 boxTime(const QString &box)
{
    return box.section(QLatin1Char(' '), 0, 0).toLongLong();
}

// One scenario's bench: a fresh modem, its terminal reachable by the target, a
// working folder, and a driver started in it.
class Bench
{
public:
    Bench(const Target &target, Report &report) : mTarget(target), mReport(report) {}

    ModemSim &sim() { return mSim; }
    Driver &driver() { return mDriver; }
    QString dir() const { return mDir.path(); }

    bool start()
    {
        QString error;
        if (!mSim.start(&error))
            return mReport.check(false, QStringLiteral("the simulated modem starts"), error);
        if (!mTarget.link.isEmpty()) {
            QFile::remove(mTarget.link);
            if (!QFile::link(mSim.portName(), mTarget.link))
                return mReport.check(false, QStringLiteral("the COM link points at the modem"),
                                     mTarget.link);
        }
        return mReport.check(mDriver.start(mTarget, mDir.path()),
                             mTarget.label + QStringLiteral(": the driver starts"),
                             mTarget.command.join(QLatin1Char(' ')));
    }

    // Opens the modem's port in the window and waits for the presence check to
    // turn the job buttons on, as an operator does before any job.
    bool connect(bool checkPortList)
    {
        const QString port = mTarget.port(mSim);
        const QStringList ports = mDriver.ask(QStringLiteral("ports"), QStringLiteral("ports"))
                                      .split(QLatin1Char('|'), Qt::SkipEmptyParts);
        if (checkPortList)
            mReport.check(ports.contains(port),
                          mTarget.label + QStringLiteral(": the port list shows ") + port,
                          ports.join(QLatin1Char(' ')));
        mDriver.send(QStringLiteral("open ") + port);
        if (mDriver.expect(QStringLiteral("opened"), replyMs).isNull())
            return mReport.check(false,
                                 mTarget.label + QStringLiteral(": the window opens ") + port);
        const QString ready = mDriver.ask(QStringLiteral("ready %1").arg(readyMs),
                                          QStringLiteral("ready"), readyMs * 2);
        if (ready.isNull())
            return mReport.check(false, mTarget.label + QStringLiteral(": the modem connects"),
                                 mDriver.log().join(QLatin1String(" | ")));
        mConnectMs = ready.toInt();
        mNoLinkLines = mDriver.log().count(noLinkLine);
        return true;
    }

    int connectMs() const { return mConnectMs; }
    int noLinkLines() const { return mNoLinkLines; }

    // Presses a job button; the time of the press, or 0.
    qint64 click(const QString &button)
    {
        return mDriver.ask(QStringLiteral("click ") + button, QStringLiteral("clicked"))
            .toLongLong();
    }

    // The first box shown since `count` boxes, or a null string.
    QString nextBox(int count, int timeoutMs)
    {
        if (!mDriver.until([&] { return mDriver.boxes().size() > count; }, timeoutMs))
            return QString();
        return mDriver.boxes().at(count);
    }

    QString trace()
    {
        QStringList commands;
        const QList<QByteArray> sent = mSim.commands();
        for (const QByteArray &c : sent)
            commands << QString::fromLatin1(c.left(40));
        return QStringLiteral("commands: ") + commands.join(QLatin1Char(' ')) +
               QStringLiteral("; log: ") + mDriver.log().join(QLatin1String(" | "));
    }

private:
    const Target &mTarget;
    Report &mReport;
    QTemporaryDir mDir;
    ModemSim mSim;
    Driver mDriver;
    int mConnectMs = 0;
    int mNoLinkLines = 0;
};

// The worker alone: the answer delay runs its full length whether the modem
// answers at once or not at all (a timed-out wait is no lost line), and what
// the first command after opening gets at the presence check's 250 ms.
void answerDelay(const Target &t, Report &r)
{
    out(QStringLiteral("== answer delay (%1)").arg(t.label));
    Bench bench(t, r);
    if (!bench.start())
        return;
    const QString port = t.port(bench.sim());
    auto exchange = [&](int waitMs) {
        return bench.driver().ask(QStringLiteral("exchange %1 %2").arg(port).arg(waitMs),
                                  QStringLiteral("answer"), waitMs + replyMs);
    };
    const QString first = exchange(250);
    r.figure(t.label + QStringLiteral(" first answer after opening, 250 ms wait"),
             QByteArray::fromHex(first.section(QLatin1Char(' '), 1).toLatin1()).contains("OK")
                 ? QStringLiteral("OK in it (%1 ms)").arg(first.section(QLatin1Char(' '), 0, 0))
                 : QStringLiteral("no OK: ") + first);
    for (const bool silent : {false, true}) {
        constexpr int waitMs = 1500;
        if (silent)
            bench.sim().addFault(ModemFault::onPrefix("at", ModemFault::Silence));
        const QString answer = exchange(waitMs);
        const int ms = answer.section(QLatin1Char(' '), 0, 0).toInt();
        const QByteArray bytes =
            QByteArray::fromHex(answer.section(QLatin1Char(' '), 1).toLatin1());
        r.check(!answer.isNull() && ms >= waitMs && ms < waitMs + answerSlackMs &&
                    bytes.contains("OK") != silent,
                t.label + QStringLiteral(": a %1 ms answer delay runs its length, modem %2")
                              .arg(waitMs)
                              .arg(silent ? "silent" : "answering"),
                QStringLiteral("%1 ms, answer \"%2\"")
                    .arg(ms)
                    .arg(QString::fromLatin1(bytes)
                             .replace(QLatin1Char('\r'), QLatin1String("\\r"))
                             .replace(QLatin1Char('\n'), QLatin1String("\\n"))));
    }
}

// The whole flash: "Модем прошит", both scripts byte for byte, the modem's own
// settings kept. Returns the flash's duration (press to box) in ms, or 0.
qint64 flash(const Target &t, Report &r, bool checkPortList)
{
    out(QStringLiteral("== flash (%1)").arg(t.label));
    Bench bench(t, r);
    OldModem::preload(bench.sim());
    if (!bench.start() || !bench.connect(checkPortList))
        return 0;
    r.check(true, t.label + QStringLiteral(": the presence check connects"),
            QStringLiteral("%1 ms after the open, %2 \"Нет связи\" line(s)")
                .arg(bench.connectMs())
                .arg(bench.noLinkLines()));
    const qint64 pressed = bench.click(ToolText::flashButton());
    const QString box = bench.nextBox(0, jobMs);
    auto flashedDetail = [](const QString &shown, Bench &b) {
        return boxText(shown) == ToolText::successTitle() + QLatin1Char('|') + ToolText::flashed()
                   ? boxText(shown)
                   : boxText(shown) + QStringLiteral("; ") + b.trace();
    };
    const bool flashed =
        r.check(boxText(box) == ToolText::successTitle() + QLatin1Char('|') + ToolText::flashed(),
                t.label + QStringLiteral(": the flash ends in \"Модем прошит\""),
                flashedDetail(box, bench));
    const ModemSim &sim = bench.sim();
    r.check(sim.file("main.pyo") == resource(QStringLiteral(":/files/main.pyo")) &&
                sim.file("config.pyo") == resource(QStringLiteral(":/files/config.pyo")),
            t.label + QStringLiteral(": both scripts are in the modem byte for byte"),
            QStringLiteral("%1 and %2 bytes")
                .arg(sim.file("main.pyo").size())
                .arg(sim.file("config.pyo").size()));
    r.check(sim.file("settings.ini") == OldModem::settings(),
            t.label + QStringLiteral(": the modem keeps its own settings"));
    return flashed ? boxTime(box) - pressed : 0;
}

void readSettings(const Target &t, Report &r)
{
    out(QStringLiteral("== read settings (%1)").arg(t.label));
    Bench bench(t, r);
    OldModem::preload(bench.sim());
    if (!bench.start() || !bench.connect(false))
        return;
    bench.click(ToolText::readButton());
    const QString box = bench.nextBox(0, jobMs);
    r.check(boxText(box) == ToolText::settingsTitle() + QLatin1Char('|'),
            t.label + QStringLiteral(": read settings opens the dialog on them"),
            boxText(box) + QStringLiteral("; ") + bench.trace());
    QFile local(bench.dir() + QStringLiteral("/settings.ini"));
    r.check(local.open(QIODevice::ReadOnly) && local.readAll() == OldModem::settings(),
            t.label + QStringLiteral(": the modem's settings.ini is stored locally byte for byte"));
}

// The modem falls silent in the middle of main.pyo's bytes: the job fails, and
// after the failed write only the presence check's "ate0" goes out.
void silentModem(const Target &t, Report &r)
{
    out(QStringLiteral("== modem silent in a write (%1)").arg(t.label));
    Bench bench(t, r);
    OldModem::preload(bench.sim());
    if (!bench.start() || !bench.connect(false))
        return;
    const QByteArray faulted = "at#wscript=\"main.pyo\"";
    bench.sim().addFault(
        ModemFault::onPrefix(faulted, ModemFault::DataStall, 1).afterDataBytes(midFileBytes));
    bench.click(ToolText::flashButton());
    const QString box = bench.nextBox(0, jobMs);
    r.check(boxText(box) == ToolText::failureTitle() + QLatin1Char('|') + ToolText::flashFailed(),
            t.label + QStringLiteral(": a silent modem fails the flash"),
            box.isNull() ? bench.trace() : boxText(box));
    const int atBox = bench.sim().commands().size();
    bench.driver().until([&] { return bench.sim().commands().size() >= atBox + 3; }, replyMs);
    const QList<QByteArray> sent = bench.sim().commands();
    const auto write = std::find_if(sent.begin(), sent.end(),
                                    [&](const QByteArray &c) { return c.startsWith(faulted); });
    const bool onlyAte0 =
        write != sent.end() && sent.end() - write > 3 &&
        std::all_of(write + 1, sent.end(), [](const QByteArray &c) { return c == "ate0"; });
    r.check(onlyAte0, t.label + QStringLiteral(": only \"ate0\" after the failed write"),
            onlyAte0 ? QStringLiteral("%1 of them").arg(sent.end() - write - 1) : bench.trace());
}

// In the middle of main.pyo: the port closed (prompt, no box, nothing more
// sent) or the line lost (the failure box within a second).
void cutShort(const Target &t, Report &r, bool hangUp)
{
    out(QStringLiteral("== %1 in the middle of a file (%2)")
            .arg(hangUp ? "line lost" : "port closed", t.label));
    Bench bench(t, r);
    OldModem::preload(bench.sim());
    if (!bench.start() || !bench.connect(false))
        return;
    bench.click(ToolText::flashButton());
    if (!bench.driver().until([&] { return bench.sim().dataBytesReceived() > midFileBytes; },
                              jobMs)) {
        r.check(false, t.label + QStringLiteral(": main.pyo's bytes go out"), bench.trace());
        return;
    }
    if (hangUp) {
        const qint64 lost = now();
        bench.sim().hangUp();
        const QString box = bench.nextBox(0, lostLineLimitMs * 5);
        const qint64 ms = box.isNull() ? -1 : boxTime(box) - lost;
        r.check(
            boxText(box) == ToolText::failureTitle() + QLatin1Char('|') + ToolText::flashFailed() &&
                ms >= 0 && ms <= lostLineLimitMs,
            t.label +
                QStringLiteral(": a lost line fails the flash within %1 ms").arg(lostLineLimitMs),
            box.isNull() ? QStringLiteral("no box; ") + bench.trace()
                         : QStringLiteral("%1 after %2 ms").arg(boxText(box)).arg(ms));
        return;
    }
    const int commands = bench.sim().commands().size();
    const int ms = bench.driver().ask(QStringLiteral("close"), QStringLiteral("closed")).toInt();
    r.check(ms <= closeLimitMs,
            t.label + QStringLiteral(": the port closes within %1 ms").arg(closeLimitMs),
            QStringLiteral("%1 ms").arg(ms));
    // Nothing is to happen after the close; give it the time it would take.
    bench.driver().until([] { return false; }, closeLimitMs);
    const QStringList log = bench.driver().log();
    const bool quiet = bench.driver().boxes().isEmpty() &&
                       bench.sim().commands().size() == commands &&
                       log.value(log.size() - 1) == ToolText::portClosed();
    r.check(quiet,
            t.label + QStringLiteral(": the abandoned job shows no box and sends nothing more"),
            quiet ? QString() : bench.trace());
}

// The ids of a journal's records ("Запись", the last column), sorted; lines:
// its records as they are. Empty when it has none or another layout.
QStringList journalIds(const QString &fileName, QStringList *lines)
{
    QFile journal(fileName);
    QString text =
        journal.open(QIODevice::ReadOnly) ? QString::fromUtf8(journal.readAll()) : QString();
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList records = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QStringList header =
        records.isEmpty() ? QStringList() : records.takeFirst().split(QLatin1Char(';'));
    if (header.value(1) != QStringLiteral("Стенд") ||
        header.value(header.size() - 1) != QStringLiteral("Запись"))
        return {};
    QStringList ids;
    for (const QString &line : qAsConst(records))
        ids << line.split(QLatin1Char(';')).constLast();
    std::sort(ids.begin(), ids.end());
    if (lines)
        *lines = records;
    return ids;
}

// The ids of the bench's records on the server, read natively with psql;
// problem: why psql could not read them.
QStringList serverRows(const QString &db, const QString &bench, QString *problem)
{
    QProcess psql;
    // The query on psql's standard input: only there does psql quote a variable.
    psql.start(QStringLiteral("psql"), {db, QStringLiteral("-AtXq"), QStringLiteral("-v"),
                                        QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-v"),
                                        QStringLiteral("bench=") + bench});
    psql.write("SELECT id FROM lorta_record WHERE bench = :'bench' ORDER BY id;\n");
    psql.closeWriteChannel();
    const bool answered = psql.waitForFinished(replyMs) &&
                          psql.exitStatus() == QProcess::NormalExit && psql.exitCode() == 0;
    if (!answered && problem)
        *problem =
            QStringLiteral("psql: ") + QString::fromUtf8(psql.readAllStandardError()).trimmed();
    return answered ? QString::fromUtf8(psql.readAllStandardOutput())
                          .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                    : QStringList();
}

// The server holds exactly the journal's records, by their ids, each with the
// bench's name; read back with psql.
void checkServerHoldsJournal(const Target &t, const QString &journalFile, const QString &benchName,
                             const QString &db, Report &r)
{
    const QStringList journaled = journalIds(journalFile, nullptr);
    QString problem;
    QStringList stored = serverRows(db, benchName, &problem);
    std::sort(stored.begin(), stored.end());
    r.check(problem.isEmpty() && !journaled.isEmpty() && stored == journaled,
            t.label + QStringLiteral(": the server holds exactly the journal's records, "
                                     "with the bench \"%1\"")
                          .arg(benchName),
            problem.isEmpty()
                ? QStringLiteral("%1 on the server, %2 in the journal; server: %3; journal: %4")
                      .arg(stored.size())
                      .arg(journaled.size())
                      .arg(stored.join(QLatin1Char(' ')), journaled.join(QLatin1Char(' ')))
                : problem);
}

// The bench window with the modem on the port that is there when it starts
// (taken, as the operator can ask; the bench sees no other port): the port's
// tile goes to green "Готово — снимите модем" as socket 1, the journal has the
// modem's line with its IMEI, both scripts are in the modem. With a server's
// conninfo (db) the bench sends its records there too, and the server then
// holds exactly the journal's records.
void benchWindow(const Target &t, Report &r, const QString &db = QString())
{
    out(QStringLiteral("== the bench window (%1%2)")
            .arg(t.label, db.isEmpty() ? QString() : QStringLiteral(", records to the server")));
    Bench bench(t, r);
    OldModem::preload(bench.sim());
    const QByteArray imei = "490154203237518";
    bench.sim().setImei(imei);
    if (!bench.start())
        return;
    QFile settings(bench.dir() + QStringLiteral("/settings.ini"));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(OldModem::settings()) < 0)
        return void(r.check(false, QStringLiteral("the bench's settings file is written")));
    settings.close();
    Driver &driver = bench.driver();
    // Wine's COM3 has no USB device behind it in the device tree: the socket
    // falls back to the port's name.
    const QString location =
        driver.ask(QStringLiteral("location ") + t.port(bench.sim()), QStringLiteral("location"));
    r.figure(t.label + QStringLiteral(" USB position of ") + t.port(bench.sim()),
             location.isEmpty() ? QStringLiteral("none, the socket is the port's name") : location);
    const qint64 started = now();
    driver.send(
        QStringLiteral("bench %1 %2 %3").arg(bench.dir(), t.port(bench.sim()), db).trimmed());
    const QString title = driver.expect(QStringLiteral("bench-up"), replyMs);
    r.check(title.endsWith(QStringLiteral(" — Flash ЛОРТА-МОДЕМ v1.08")),
            t.label + QStringLiteral(": the bench window shows with its title"), title);
    const QString dialogs = driver.expect(QStringLiteral("bench-dialogs"), replyMs);
    r.check(dialogs.startsWith(QStringLiteral("Отмена|")) &&
                !dialogs.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))),
            t.label + QStringLiteral(": Qt's own dialogs speak Russian in the bench"), dialogs);
    const QString begun = driver.expect(QStringLiteral("bench-start"), replyMs);
    if (!r.check(begun == QLatin1String("ok"),
                 t.label + QStringLiteral(": the bench starts its watch"), begun))
        return;
    const QString port = t.port(bench.sim());
    auto tileWhere = [&](const std::function<bool(const QString &)> &state) {
        const QStringList tiles = driver.tiles();
        for (const QString &tile : tiles) {
            if (tile.section(QLatin1Char('|'), 1, 1).startsWith(port) &&
                state(tile.section(QLatin1Char('|'), 2, 2)))
                return tile;
        }
        return QString();
    };
    const QString done = QStringLiteral("Готово — снимите модем");
    auto isDone = [&](const QString &state) { return state == done; };
    auto isRed = [](const QString &state) {
        return state.startsWith(QStringLiteral("Ошибка")) ||
               state.startsWith(QStringLiteral("Модем отключён"));
    };
    driver.until([&] { return !tileWhere(isDone).isNull() || !tileWhere(isRed).isNull(); }, jobMs);
    const QString green = tileWhere(isDone);
    QStringList states;
    for (const QString &tile : driver.tiles()) {
        if (!tile.section(QLatin1Char('|'), 1, 1).startsWith(port))
            continue;
        const QString state = tile.section(QLatin1Char('|'), 2, 2).section(QLatin1Char(':'), 0, 0);
        if (states.value(states.size() - 1) != state)
            states << state;
    }
    r.check(!green.isNull() && green.section(QLatin1Char('|'), 0, 0) == QLatin1String("1"),
            t.label + QStringLiteral(": socket 1, %1, goes to \"%2\"").arg(port, done),
            QStringLiteral("%1; states: %2")
                .arg(green.isNull() ? driver.tiles().value(driver.tiles().size() - 1) : green,
                     states.join(QStringLiteral(" → "))));
    if (!green.isNull())
        r.figure(t.label + QStringLiteral(" bench: start to green tile"),
                 QStringLiteral("%1 ms").arg(now() - started));
    const ModemSim &sim = bench.sim();
    r.check(sim.file("main.pyo") == resource(QStringLiteral(":/files/main.pyo")) &&
                sim.file("config.pyo") == resource(QStringLiteral(":/files/config.pyo")),
            t.label + QStringLiteral(": the bench put both scripts into the modem"));
    // The tile turns green as the job ends; its journal line goes to the disk
    // on the writer thread a moment later.
    QStringList records;
    auto journalLines = [&] {
        QFile journal(bench.dir() + QStringLiteral("/journal.csv"));
        const QString lines =
            journal.open(QIODevice::ReadOnly) ? QString::fromUtf8(journal.readAll()) : QString();
        records = lines.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        return records.size() >= 2;
    };
    driver.until(journalLines, replyMs);
    const QString record = records.value(records.size() - 1);
    r.check(records.size() == 2 && record.contains(QString::fromLatin1(imei)) &&
                record.contains(QStringLiteral(";успех;")) && record.contains(port),
            t.label + QStringLiteral(": the journal has the modem's line with its IMEI"), record);
    if (db.isEmpty())
        return;
    const QString journalFile = bench.dir() + QStringLiteral("/journal.csv");
    const QString benchName = QStringLiteral("Окно Wine");
    driver.until(
        [&] {
            const QStringList ids = journalIds(journalFile, nullptr);
            return !ids.isEmpty() && serverRows(db, benchName, nullptr).size() == ids.size();
        },
        jobMs);
    checkServerHoldsJournal(t, journalFile, benchName, db, r);
}

// The old modem started, and the target's port name made to lead to it.
bool startLinkedModem(ModemSim &sim, const Target &t, Report &r)
{
    OldModem::preload(sim);
    QString error;
    if (!sim.start(&error)) {
        r.check(false, QStringLiteral("the simulated modem starts"), error);
        return false;
    }
    if (!t.link.isEmpty()) {
        QFile::remove(t.link);
        QFile::link(sim.portName(), t.link);
    }
    return true;
}

// The command-line flasher on the same port: read settings into a file.
void cliReadSettings(const Target &t, const QStringList &cli, Report &r)
{
    out(QStringLiteral("== lorta-flash-cli read-settings (%1)").arg(t.label));
    QTemporaryDir dir;
    ModemSim sim;
    if (!startLinkedModem(sim, t, r))
        return;
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    startCommand(process, cli,
                 {QStringLiteral("read-settings"), QStringLiteral("--port"), t.port(sim),
                  QStringLiteral("--out"), QStringLiteral("read.ini")});
    const bool finished = process.waitForFinished(jobMs);
    const QString said = QString::fromUtf8(process.readAll()).trimmed();
    QFile read(dir.path() + QStringLiteral("/read.ini"));
    r.check(finished && process.exitCode() == 0 && read.open(QIODevice::ReadOnly) &&
                read.readAll() == OldModem::settings(),
            t.label +
                QStringLiteral(": lorta-flash-cli reads the settings into a file byte for byte"),
            said.section(QLatin1Char('\n'), -1));
}

// A process whose standard output is a pipe held here, so that its reader can
// go away as `| head -1` does.
class PipedProcess : public QProcess
{
public:
    PipedProcess()
    {
        if (::pipe(mFds) == 0)
            ::fcntl(mFds[0], F_SETFL, O_NONBLOCK);
    }
    ~PipedProcess() override
    {
        closeEnd(0);
        closeEnd(1);
    }
    bool hasLine()
    {
        char buffer[4096];
        ssize_t got = 0;
        while (mFds[0] >= 0 && (got = ::read(mFds[0], buffer, sizeof buffer)) > 0)
            mReceived.append(buffer, static_cast<int>(got));
        return mReceived.contains('\n');
    }
    void closeEnd(int end)
    {
        if (mFds[end] >= 0)
            ::close(mFds[end]);
        mFds[end] = -1;
    }

protected:
    void setupChildProcess() override
    {
        ::dup2(mFds[1], STDOUT_FILENO);
        ::close(mFds[0]);
    }

private:
    int mFds[2] = {-1, -1};
    QByteArray mReceived;
};

// A flash whose standard output reader goes away after the first line: the
// modem is flashed all the same, and the run ends with a report in the
// journal and on stderr, status 1, the journal whole to its last line.
void cliFlashReaderGone(const Target &t, const QStringList &cli, Report &r)
{
    out(QStringLiteral("== lorta-flash-cli flash, its reader goes away (%1)").arg(t.label));
    QTemporaryDir dir;
    ModemSim sim;
    if (!startLinkedModem(sim, t, r))
        return;
    PipedProcess process;
    process.setWorkingDirectory(dir.path());
    startCommand(process, cli, flashArguments(t.port(sim)));
    process.closeEnd(1);
    QElapsedTimer clock;
    clock.start();
    while (!process.hasLine() && clock.elapsed() < jobMs && process.state() != QProcess::NotRunning)
        process.waitForFinished(50);
    process.closeEnd(0);
    const bool finished = process.waitForFinished(jobMs);
    const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const QByteArray lines = journalIn(dir);
    const bool flashed = sim.file("main.pyo") == resource(QStringLiteral(":/files/main.pyo")) &&
                         sim.file("config.pyo") == resource(QStringLiteral(":/files/config.pyo"));
    r.check(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 1 &&
                flashed && lines.endsWith('\n') && lines.contains("часть вывода потеряна") &&
                said.contains(QStringLiteral("часть вывода потеряна")),
            t.label + QStringLiteral(": lorta-flash-cli flashes on when its reader goes away, "
                                     "and says so at the end"),
            QStringLiteral("exit %1, flashed %2; %3")
                .arg(process.exitCode())
                .arg(flashed)
                .arg(said.section(QLatin1Char('\n'), -1)));
}

// The console of a flash closed in the middle of main.pyo: the close event
// stops the port at once, and the run still prints its table, writes its
// journal to the last line and exits 130; nothing more goes to the modem and
// no other file is left behind. `closer` raises the event in the flasher.
void cliFlashConsoleClosed(const Target &t, const QStringList &cli, const QStringList &closer,
                           Report &r)
{
    out(QStringLiteral("== lorta-flash-cli flash, its console closed (%1)").arg(t.label));
    QTemporaryDir dir;
    ModemSim sim;
    if (!startLinkedModem(sim, t, r))
        return;
    QProcess process;
    process.setWorkingDirectory(dir.path());
    startCommand(process, cli, flashArguments(t.port(sim)));
    QElapsedTimer clock;
    clock.start();
    while (sim.dataBytesReceived() <= midFileBytes && clock.elapsed() < jobMs &&
           process.state() != QProcess::NotRunning)
        process.waitForFinished(20);
    if (sim.dataBytesReceived() <= midFileBytes || process.state() == QProcess::NotRunning) {
        r.check(false, t.label + QStringLiteral(": lorta-flash-cli sends main.pyo's bytes"),
                QString::fromUtf8(process.readAllStandardError()));
        return;
    }
    QProcess close;
    startCommand(close, closer, {QFileInfo(cli.constLast()).fileName()});
    // "sent PID" once the handler's thread runs; the closer then ends the
    // flasher as the system would, unless it ends by itself first.
    QElapsedTimer waiting;
    waiting.start();
    while (!close.canReadLine() && close.state() != QProcess::NotRunning &&
           waiting.elapsed() < replyMs)
        close.waitForReadyRead(20);
    const QString closeSaid = QString::fromUtf8(close.readLine()).trimmed();
    const qint64 sentAt = now();
    if (!r.check(closeSaid.startsWith(QLatin1String("sent ")),
                 t.label + QStringLiteral(": the console's close event reaches lorta-flash-cli"),
                 closeSaid + QString::fromUtf8(close.readAllStandardError()))) {
        process.kill();
        process.waitForFinished();
        return;
    }
    const bool finished = process.waitForFinished(jobMs);
    const qint64 stopMs = std::max<qint64>(0, now() - sentAt);
    const int commands = sim.commands().size();
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < closeLimitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    close.waitForFinished(replyMs);
    const QString ending = QString::fromUtf8(close.readAll()).trimmed();
    r.check(ending.startsWith(QLatin1String("exited ")),
            t.label + QStringLiteral(": lorta-flash-cli ends by itself while its close handler "
                                     "holds on (the system ends it once the handler returns)"),
            ending);
    const QString table = QString::fromUtf8(process.readAllStandardOutput());
    const QByteArray lines = journalIn(dir);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    r.figure(t.label + QStringLiteral(" lorta-flash-cli exit after the close event"),
             QStringLiteral("%1 ms").arg(stopMs));
    r.check(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 130 &&
                table.contains(QStringLiteral("прервано")) && sim.commands().size() == commands &&
                !sim.hasFile("config.pyo"),
            t.label + QStringLiteral(": the close event stops the flash, the table says "
                                     "\"прервано\", exit 130, nothing more sent"),
            QStringLiteral("exit %1 after %2 ms, %3 command(s) after the stop; %4")
                .arg(process.exitCode())
                .arg(stopMs)
                .arg(sim.commands().size() - commands)
                .arg(table.trimmed().section(QLatin1Char('\n'), -1)));
    r.check(stopMs <= 3 * closeLimitMs,
            t.label + QStringLiteral(": lorta-flash-cli ends within %1 ms of the close event")
                          .arg(3 * closeLimitMs),
            QStringLiteral("%1 ms").arg(stopMs));
    r.check(lines.endsWith('\n') && lines.contains("Прошивка модема запущена") &&
                left == QStringList{QStringLiteral("journal.log")},
            t.label + QStringLiteral(": the journal is whole to its last line, no other file left"),
            QStringLiteral("files: %1; journal's last line: %2")
                .arg(left.join(QLatin1Char(' ')),
                     QString::fromUtf8(lines).trimmed().section(QLatin1Char('\n'), -1)));
}

// The watch of the production line on the same port, its records sent to the
// floor's server as well as to its journal: one modem flashed, the run ends by
// itself (--count 1) once the server has the records, and the server then holds
// exactly the journal's records, by their ids, each with the bench's name.
// `db` is the server's conninfo, read back here with psql.
void cliWatchToServer(const Target &t, const QStringList &cli, const QString &db, Report &r)
{
    out(QStringLiteral("== lorta-flash-cli watch, records to the server (%1)").arg(t.label));
    const QString benchName = QStringLiteral("Стенд Wine");
    QTemporaryDir dir;
    ModemSim sim;
    if (!startLinkedModem(sim, t, r))
        return;
    QFile settings(dir.path() + QStringLiteral("/settings.ini"));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(OldModem::settings()) < 0)
        return void(r.check(false, QStringLiteral("the watch's settings file is written")));
    settings.close();
    QProcess process;
    process.setWorkingDirectory(dir.path());
    QElapsedTimer clock;
    clock.start();
    startCommand(process, cli,
                 {QStringLiteral("watch"), QStringLiteral("flash"),
                  QStringLiteral("--include-present"), QStringLiteral("--db"), db,
                  QStringLiteral("--bench"), benchName, QStringLiteral("--journal"),
                  QStringLiteral("journal.csv"), QStringLiteral("--count"), QStringLiteral("1")});
    // The watch runs until the server holds its journal's records; it is
    // then stopped (under Wine an empty COM1 the prefix always has keeps a
    // watch from ending by itself, with or without a server).
    const QString journalFile = dir.path() + QStringLiteral("/journal.csv");
    bool reached = false;
    while (!reached && clock.elapsed() < jobMs && process.state() != QProcess::NotRunning) {
        process.waitForFinished(200);
        const QStringList ids = journalIds(journalFile, nullptr);
        reached = !ids.isEmpty() && serverRows(db, benchName, nullptr).size() == ids.size();
    }
    const qint64 ms = clock.elapsed();
    process.kill();
    process.waitForFinished();
    const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed();
    const bool flashed = sim.file("main.pyo") == resource(QStringLiteral(":/files/main.pyo")) &&
                         sim.file("config.pyo") == resource(QStringLiteral(":/files/config.pyo"));
    const QString lastSaid =
        said.section(QLatin1Char('\n'), -3).replace(QLatin1Char('\n'), QLatin1String(" / "));
    r.check(reached && flashed,
            t.label + QStringLiteral(": lorta-flash-cli watch flashes the modem on %1 and its "
                                     "record reaches the server while it runs")
                          .arg(t.port(sim)),
            QStringLiteral("after %1 ms, flashed %2; %3").arg(ms).arg(flashed).arg(lastSaid));
    r.figure(t.label + QStringLiteral(
                           " lorta-flash-cli watch with --db, start to the record on the server"),
             QStringLiteral("%1 ms").arg(ms));

    QStringList lines;
    const QStringList journaled = journalIds(journalFile, &lines);
    bool benchNamed = !lines.isEmpty();
    for (const QString &line : qAsConst(lines))
        benchNamed = benchNamed && line.split(QLatin1Char(';')).value(1) == benchName;
    r.check(!journaled.isEmpty() && benchNamed &&
                std::none_of(journaled.cbegin(), journaled.cend(),
                             [](const QString &id) { return id.isEmpty(); }),
            t.label + QStringLiteral(": the watch's journal has its records, each with an id "
                                     "and the bench \"%1\"")
                          .arg(benchName),
            QStringLiteral("%1 record(s): %2")
                .arg(journaled.size())
                .arg(lines.join(QLatin1String(" | "))));

    checkServerHoldsJournal(t, journalFile, benchName, db, r);
}

Target wineTarget(const QCommandLineParser &p)
{
    return {p.value(QStringLiteral("label")),
            QProcess::splitCommand(p.value(QStringLiteral("driver"))),
            p.value(QStringLiteral("com-link")), p.value(QStringLiteral("com-name"))};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the tool's window in a driver (under Wine) against the simulated modem."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("driver"), QStringLiteral("Command that starts the driver under test."),
         QStringLiteral("command")},
        {QStringLiteral("com-link"),
         QStringLiteral("Link that the driver's COM port reaches; re-pointed at each modem."),
         QStringLiteral("path")},
        {QStringLiteral("com-name"), QStringLiteral("The port the driver opens (default COM3)."),
         QStringLiteral("name"), QStringLiteral("COM3")},
        {QStringLiteral("native-driver"),
         QStringLiteral("A native driver: the flash runs through it too, for the ratio."),
         QStringLiteral("path")},
        {QStringLiteral("cli"),
         QStringLiteral("Command that starts lorta-flash-cli the same way as the driver."),
         QStringLiteral("command")},
        {QStringLiteral("close"),
         QStringLiteral("Command that raises a console's close event in the program named "
                        "after it (lorta-win-close)."),
         QStringLiteral("command")},
        {QStringLiteral("db"),
         QStringLiteral("A server's conninfo: lorta-flash-cli's watch and the bench window send "
                        "their records there, and psql reads them back."),
         QStringLiteral("conninfo")},
        {QStringLiteral("label"), QStringLiteral("How the report names the driver (default Wine)."),
         QStringLiteral("text"), QStringLiteral("Wine")},
        {QStringLiteral("only"),
         QStringLiteral(
             "Comma-separated scenarios: delay, flash, read, "
             "silent, close, lost, cli, cli-reader, cli-close, bench, cli-watch-db, bench-db."),
         QStringLiteral("list")},
    });
    parser.process(app);
    if (!parser.isSet(QStringLiteral("driver"))) {
        out(QStringLiteral("lorta-win-check: --driver is required"));
        return 2;
    }
    const Target wine = wineTarget(parser);
    const QStringList only =
        parser.value(QStringLiteral("only")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    auto wanted = [&](const char *name) {
        return only.isEmpty() || only.contains(QLatin1String(name));
    };

    Report report;
    if (wanted("delay"))
        answerDelay(wine, report);
    if (wanted("flash")) {
        const qint64 wineMs = flash(wine, report, !wine.link.isEmpty());
        report.figure(QStringLiteral("flash under Wine"), QStringLiteral("%1 ms").arg(wineMs));
        if (parser.isSet(QStringLiteral("native-driver"))) {
            const Target native{QStringLiteral("native"),
                                {parser.value(QStringLiteral("native-driver"))},
                                QString(),
                                QString()};
            const qint64 nativeMs = flash(native, report, false);
            report.figure(QStringLiteral("flash natively"), QStringLiteral("%1 ms").arg(nativeMs));
            if (wineMs > 0 && nativeMs > 0)
                report.figure(QStringLiteral("flash, Wine against native"),
                              QString::number(double(wineMs) / double(nativeMs), 'f', 3));
        }
    }
    if (wanted("read"))
        readSettings(wine, report);
    if (wanted("silent"))
        silentModem(wine, report);
    if (wanted("close"))
        cutShort(wine, report, false);
    if (wanted("lost"))
        cutShort(wine, report, true);
    if (wanted("bench"))
        benchWindow(wine, report);
    if (wanted("bench-db") && parser.isSet(QStringLiteral("db")))
        benchWindow(wine, report, parser.value(QStringLiteral("db")));
    if (wanted("cli") && parser.isSet(QStringLiteral("cli")))
        cliReadSettings(wine, QProcess::splitCommand(parser.value(QStringLiteral("cli"))), report);
    if (wanted("cli-reader") && parser.isSet(QStringLiteral("cli")))
        cliFlashReaderGone(wine, QProcess::splitCommand(parser.value(QStringLiteral("cli"))),
                           report);

    if (wanted("cli-close") && parser.isSet(QStringLiteral("cli")) &&
        parser.isSet(QStringLiteral("close")))
        cliFlashConsoleClosed(wine, QProcess::splitCommand(parser.value(QStringLiteral("cli"))),
                              QProcess::splitCommand(parser.value(QStringLiteral("close"))),
                              report);

    if (wanted("cli-watch-db") && parser.isSet(QStringLiteral("cli")) &&
        parser.isSet(QStringLiteral("db")))
        cliWatchToServer(wine, QProcess::splitCommand(parser.value(QStringLiteral("cli"))),
                         parser.value(QStringLiteral("db")), report);

    out(QStringLiteral("== figures"));
    for (const QString &figure : qAsConst(report.figures))
        out(QStringLiteral("  ") + figure);
    out(QStringLiteral("%1 passed, %2 failed").arg(report.passed).arg(report.failed));
    return report.failed == 0 ? 0 : 1;
}

// The flasher as a process of its own, where what happens around it is real:
// a reader that goes away, a terminal paused with ^S, SIGHUP, a second
// flasher on the same modem. Each against simulated modems on pseudo-terminals.
// The program runs on the product's waits, so its one whole flash, against a
// modem paced at 9600 bit/s, pins them end to end.
#include "cli/clirunner.h"
#include "line/journal.h"
#include "modemsim.h"
#include "socketbench.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int quietMs = 600;
constexpr int stopPromiseMs = 500;
constexpr int flashTimeoutMs = 120000;

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/files/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A pseudo-terminal for the flasher's standard output, as an operator's terminal.
class Terminal
{
public:
    Terminal() : mMaster(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (mMaster >= 0 && ::grantpt(mMaster) == 0 && ::unlockpt(mMaster) == 0)
            mSlave = QString::fromLocal8Bit(::ptsname(mMaster));
        termios settings = {};
        if (!mSlave.isEmpty() && ::tcgetattr(mMaster, &settings) == 0) {
            settings.c_iflag |= IXON;
            ::tcsetattr(mMaster, TCSANOW, &settings);
        }
    }
    ~Terminal()
    {
        if (mMaster >= 0)
            ::close(mMaster);
    }
    QString slave() const { return mSlave; }
    // The operator's ^S: the terminal takes no more output until ^Q.
    bool pause() { return ::write(mMaster, "\x13", 1) == 1; }

private:
    int mMaster;
    QString mSlave;
};
// A process whose standard output is a pipe the test holds the reading end of,
// so that the reader can go away as `head -1` does.
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
        closeReader();
        if (mFds[1] >= 0)
            ::close(mFds[1]);
    }
    // What has arrived so far.
    QByteArray received()
    {
        char buffer[4096];
        ssize_t got = 0;
        while (mFds[0] >= 0 && (got = ::read(mFds[0], buffer, sizeof buffer)) > 0)
            mReceived.append(buffer, static_cast<int>(got));
        return mReceived;
    }
    void closeReader()
    {
        if (mFds[0] >= 0)
            ::close(mFds[0]);
        mFds[0] = -1;
    }
    void closeWriter()
    {
        ::close(mFds[1]);
        mFds[1] = -1;
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

// A process started with SIGTERM blocked, as a supervisor may start it: a
// SIGTERM sent at once waits, pending, for the flasher to take it.
class MaskedProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    }
};
} // namespace

class TestCliProcess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readerThatGoesAwayStopsNothing();
    void pausedTerminalHoldsNoPort();
    void hangUpEndsTheRunAsAnInterruption();
    void terminationBeforeStartUpIsNotLost();
    void secondOpenerOfOneModemIsRefused();
    void secondWatchOnOneJournalIsRefused();
    void watchesStartingTogetherWriteOneHeader();

private:
    QStringList watchArguments(const QString &journal) const
    {
        return {"watch", "flash", "--match", "0403:6001", "--journal", journal};
    }

    ModemSim *addModem(bool paced);
    void startCli(QProcess &process, const QStringList &arguments);
    bool waitForData(ModemSim *sim, qint64 bytes);

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TestSupport::SocketBench> mBench;
};

void TestCliProcess::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    mBench = std::make_unique<TestSupport::SocketBench>();
}

void TestCliProcess::cleanup()
{
    mBench.reset();
    mDir.reset();
}

ModemSim *TestCliProcess::addModem(bool paced)
{
    ModemSim *sim = mBench->addModem("490154203237518", paced);
    sim->setFile("main.pyo", "old main");
    return sim;
}

void TestCliProcess::startCli(QProcess &process, const QStringList &arguments)
{
    process.setWorkingDirectory(mDir->path());
    process.start(QStringLiteral(LORTA_CLI), arguments);
    QVERIFY(process.waitForStarted());
}

bool TestCliProcess::waitForData(ModemSim *sim, qint64 bytes)
{
    return QTest::qWaitFor([&] { return sim->dataBytesReceived() > bytes; }, flashTimeoutMs);
}

// The reader takes the first event line as soon as it happens, then goes away
// (`| head -1`): the flash goes on to the end, and the lost output is said on
// standard error and in the exit status.
void TestCliProcess::readerThatGoesAwayStopsNothing()
{
    ModemSim *sim = addModem(true);
    PipedProcess cli;
    startCli(cli, {"flash", "--port", sim->portName(), "--connect-timeout", "20"});
    cli.closeWriter();
    QVERIFY(QTest::qWaitFor([&] { return cli.received().contains('\n'); }, flashTimeoutMs));
    QVERIFY2(!sim->hasFile("config.pyo"), "the first line came only at the end");
    QVERIFY(cli.received().startsWith(sim->portName().toUtf8() + " | "));
    cli.closeReader();

    QVERIFY(cli.waitForFinished(flashTimeoutMs));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    QCOMPARE(sim->file("main.pyo"), resource(QStringLiteral("main.pyo")));
    QCOMPARE(sim->file("config.pyo"), resource(QStringLiteral("config.pyo")));
    QVERIFY(sim->commands().contains("at#execscr"));
    const QByteArray err = cli.readAllStandardError();
    QVERIFY2(err.contains("часть вывода потеряна (стандартный вывод)"), err.constData());
}

// ^S in the operator's terminal: the modem keeps getting its bytes, SIGTERM
// stops it at once, and the run ends although the terminal takes nothing more.
void TestCliProcess::pausedTerminalHoldsNoPort()
{
    Terminal terminal;
    QVERIFY(!terminal.slave().isEmpty());
    QVERIFY(terminal.pause());
    ModemSim *sim = addModem(true);
    QProcess cli;
    cli.setStandardOutputFile(terminal.slave());
    startCli(cli, {"flash", "--port", sim->portName(), "--connect-timeout", "20"});
    QVERIFY2(waitForData(sim, 2000), "the paused terminal held the port");

    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QTest::qWait(stopPromiseMs);
    const int commands = sim->commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(sim->commands().size(), commands);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
    QVERIFY(!sim->hasFile("config.pyo"));
    const QByteArray err = cli.readAllStandardError();
    QVERIFY2(err.contains("часть вывода потеряна (стандартный вывод)"), err.constData());
}

// A dropped ssh session: every port stops as on SIGTERM, the results and the
// journal still say where each port stood.
void TestCliProcess::hangUpEndsTheRunAsAnInterruption()
{
    ModemSim *sim = addModem(true);
    const QString journal = mDir->filePath(QStringLiteral("journal.log"));
    QProcess cli;
    startCli(cli, {"flash", "--port", sim->portName(), "--json", "--log", journal});
    QVERIFY(waitForData(sim, 1000));
    QElapsedTimer sinceHangUp;
    sinceHangUp.start();
    ::kill(static_cast<pid_t>(cli.processId()), SIGHUP);
    QVERIFY(cli.waitForFinished(5000));
    // The ports stop within the promise; the process also waits for its outputs.
    QVERIFY2(sinceHangUp.elapsed() < 3 * stopPromiseMs,
             qPrintable(QString::number(sinceHangUp.elapsed())));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
    const int commands = sim->commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(sim->commands().size(), commands);

    const QJsonObject result = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
    QCOMPARE(result.value("interrupted").toBool(), true);
    QVERIFY(result.value("text").toString().startsWith(QStringLiteral("Прервано: шаг 6 из 9")));
    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Прошивка модема запущена"));
}

// SIGTERM that comes before the flasher is ready: the run still ends as an
// interruption, with its table, and the modem gets no job command.
void TestCliProcess::terminationBeforeStartUpIsNotLost()
{
    ModemSim *sim = addModem(false);
    MaskedProcess cli;
    startCli(cli, {"flash", "--port", sim->portName(), "--connect-timeout", "20"});
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    QVERIFY(cli.waitForFinished(10000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
    QVERIFY(cli.readAllStandardOutput().contains("Прервано"));
    QVERIFY(!sim->commands().contains("at#lscript"));
}

// A flasher holds the modem; a second one, naming the device through a link,
// is refused before it sends a byte and says that another program holds it.
void TestCliProcess::secondOpenerOfOneModemIsRefused()
{
    ModemSim *sim = addModem(true);
    QProcess first;
    startCli(first, {"flash", "--port", sim->portName()});
    // Its first command: it has the port open, and holds it.
    QVERIFY(QTest::qWaitFor([&] { return !sim->commands().isEmpty(); }, flashTimeoutMs));
    const QString link = mDir->filePath(QStringLiteral("modem-link"));
    QVERIFY(QFile::link(sim->portName(), link));

    QProcess second;
    startCli(second, {"read-settings", "--port", link, "--json", "--out",
                      mDir->filePath(QStringLiteral("copy.ini"))});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 1);
    const QJsonObject result = QJsonDocument::fromJson(second.readAllStandardOutput()).object();
    QCOMPARE(result.value("text").toString(),
             QStringLiteral("Ошибка при открытии порта: порт занят другой программой"));
    QVERIFY(!sim->commands().contains("at#rscript=\"settings.ini\""));
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(5000));
    QCOMPARE(first.exitCode(), 130);
}

// One journal has one writer: a second watch on it is refused before it opens
// any port, naming the watch that holds it, and the first goes on.
void TestCliProcess::secondWatchOnOneJournalIsRefused()
{
    const QString journal = mDir->filePath(QStringLiteral("journal.csv"));
    QProcess first;
    startCli(first, watchArguments(journal));
    QVERIFY(QTest::qWaitFor([&] { return first.peek(4096).contains("Ждём модемы"); }, 10000));
    QProcess second;
    startCli(second, watchArguments(QStringLiteral("journal.csv")));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 1);
    const QString err = QString::fromUtf8(second.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("журнал уже ведёт другой стенд: lorta-flash-cli, PID ") +
                          QString::number(first.processId())),
             qPrintable(err));
    QCOMPARE(first.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(first.processId()), SIGINT);
    QVERIFY(first.waitForFinished(10000));
}

// Two watches started at the same moment on a new journal: one holds it, the
// other is refused, and the file has its BOM and header once.
void TestCliProcess::watchesStartingTogetherWriteOneHeader()
{
    for (int round = 0; round < 6; ++round) {
        const QString journal = mDir->filePath(QStringLiteral("j%1.csv").arg(round));
        QProcess a;
        QProcess b;
        startCli(a, watchArguments(journal));
        startCli(b, watchArguments(journal));
        QVERIFY(QTest::qWaitFor(
            [&] { return a.state() == QProcess::NotRunning || b.state() == QProcess::NotRunning; },
            10000));
        QProcess &refused = a.state() == QProcess::NotRunning ? a : b;
        QProcess &holder = &refused == &a ? b : a;
        QCOMPARE(refused.exitCode(), 1);
        ::kill(static_cast<pid_t>(holder.processId()), SIGINT);
        QVERIFY(holder.waitForFinished(10000));
        QFile file(journal);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF") + Journal::header());
    }
}

QTEST_MAIN(TestCliProcess)
#include "tst_cliprocess.moc"

// The serial worker on its own thread, through the real QSerialPort, against
// the simulated modem on a pseudo-terminal.
#include "modemsim.h"
#include "serial/serialport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <sys/resource.h>

namespace {
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray answerAt(const QSignalSpy &spy, int index)
{
    return spy.at(index).at(0).toByteArray();
}
} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void oneCommandAtATime();
    void unaskedBytesArriveBetweenExchanges();
    void commandPendingAtCloseIsNeverWritten();
    void idleWorkerWakesForACommandAndAStop();
    void file_data();
    void file();

private:
    void open();
    bool handOver(const QByteArray &command, int wait);

    std::unique_ptr<ModemSim> mSim;
    std::unique_ptr<SerialPort> mPort;
};

void TestSerialPort::init()
{
    mSim = std::make_unique<ModemSim>();
    mSim->setPaced(false);
    QString error;
    QVERIFY2(mSim->start(&error), qPrintable(error));
    mPort = std::make_unique<SerialPort>(Timing().worker);
}

void TestSerialPort::cleanup()
{
    mPort->stopPort();
    mPort->wait();
    QVERIFY(!mPort->isPortOpened());
    mPort.reset();
    mSim.reset();
}

void TestSerialPort::open()
{
    QSignalSpy opened(mPort.get(), &SerialPort::signal_openPort_ok);
    mPort->setPortSettings(mSim->portName(), 9600);
    mPort->startPort();
    QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 5000);
    QTRY_VERIFY(mPort->isPortOpened());
}

// Spies record the worker's signals as they are emitted, so tests count them
// (QTRY_COMPARE) rather than wait for the next one, which may have come already.

// Retries the hand-over until the worker takes it (the worker refuses while busy).
bool TestSerialPort::handOver(const QByteArray &command, int wait)
{
    QElapsedTimer clock;
    clock.start();
    while (!mPort->setRequest(command, wait)) {
        if (clock.elapsed() > 5000)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// The hand-over is refused while a command is pending or in its exchange;
// every taken command gets exactly one answer, empty when the modem is silent.
void TestSerialPort::oneCommandAtATime()
{
    mSim->addFault(ModemFault::onCommand(2, ModemFault::Silence));
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QVERIFY(mPort->setRequest("ate0\r", 500));
    QVERIFY(!mPort->setRequest("at\r", 250));
    QTRY_VERIFY(mSim->commands().size() == 1);
    QVERIFY(!mPort->setRequest("at\r", 250));
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 3000);
    QVERIFY(answerAt(answers, 0).contains("OK"));
    QVERIFY(handOver("at\r", 100));
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 3000);
    QCOMPARE(answerAt(answers, 1), QByteArray());
    QCOMPARE(mSim->commands(), (QList<QByteArray>{"ate0", "at"}));
}

// The tail of an answer longer than its wait comes as unasked data, never
// empty and in order (a running script's output takes the same way).
void TestSerialPort::unaskedBytesArriveBetweenExchanges()
{
    QByteArray file;
    for (int i = 0; i < 60; ++i)
        file += "LINE" + QByteArray::number(i).rightJustified(3, '0') + "::value::text\r\n";
    mSim->setFile("settings.ini", file);
    mSim->setPaced(true); // about 1 ms a byte: the answer outlasts its wait
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QSignalSpy unasked(mPort.get(), &SerialPort::signal_receivedData);
    QVERIFY(mPort->setRequest("at#rscript=\"settings.ini\"\r", 50));
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 3000);
    QVERIFY(!answerAt(answers, 0).contains("OK"));
    const auto whole = [&] {
        QByteArray all = answerAt(answers, 0);
        for (int i = 0; i < unasked.size(); ++i)
            all += answerAt(unasked, i);
        return all;
    };
    QTRY_VERIFY_WITH_TIMEOUT(whole().endsWith("OK\r\n"), 10000);
    QVERIFY(whole().endsWith("\r\n<<<" + file + "\r\nOK\r\n"));
    for (int i = 0; i < unasked.size(); ++i)
        QVERIFY(!answerAt(unasked, i).isEmpty());
}

void TestSerialPort::commandPendingAtCloseIsNeverWritten()
{
    open();
    QVERIFY(mPort->setRequest("ate0\r", 400));
    QTRY_VERIFY(!mSim->commands().isEmpty());
    mPort->stopPort();
    // Taken once the exchange ends; the loop then ends before writing it.
    QVERIFY(handOver("at#execscr\r", 250));
    QVERIFY(mPort->wait(5000));
    open(); // a new run starts with an empty hand-over slot
    QTest::qWait(300);
    QCOMPARE(mSim->commands(), QList<QByteArray>{"ate0"});
}

// A worker with nothing to send sleeps until there is something: a command
// handed over, or a stop, wakes it at once, not at the end of its sleep.
void TestSerialPort::idleWorkerWakesForACommandAndAStop()
{
    constexpr qint64 promptMs = 400;
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QVERIFY(mPort->setRequest("ate0\r", 100));
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 3000);
    QTest::qWait(300); // the pass after the exchange is over: the worker sleeps
    QElapsedTimer clock;
    clock.start();
    QVERIFY(mPort->setRequest("at\r", 100));
    QTRY_COMPARE_WITH_TIMEOUT(mSim->commands().size(), 2, 3000);
    const qint64 commandMs = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 3000);
    QTest::qWait(300);
    clock.restart();
    mPort->stopPort();
    QVERIFY(mPort->wait(5000));
    const qint64 stopMs = clock.elapsed();
    QVERIFY2(commandMs < promptMs, qPrintable(QString::number(commandMs)));
    QVERIFY2(stopMs < promptMs, qPrintable(QString::number(stopMs)));
}

// A stop or a lost line in the middle of a file's bytes on a paced line ends
// the answer delay at once: a stop drops the exchange unanswered and writes
// nothing more; a lost line answers with what came, and later exchanges on the
// dead line answer at once without spinning. (A whole file going out within
// its delay is the demo's paced flash.)
void TestSerialPort::file_data()
{
    QTest::addColumn<QString>("cut");
    QTest::newRow("stop") << "stop";
    QTest::newRow("line lost") << "hang up";
}

void TestSerialPort::file()
{
    QFETCH(QString, cut);
    QFile payload(QStringLiteral(":/files/main.pyo"));
    QVERIFY(payload.open(QIODevice::ReadOnly));
    const QByteArray bytes = payload.read(6000);
    mSim->setPaced(true);
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QVERIFY(mPort->setRequest("at#wscript=\"main.pyo\",6000,1\r", 1500));
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 1, 5000);
    QVERIFY(answerAt(answers, 0).contains(">>>"));
    const int lineTime = bytes.size() * 10 * 1000 / 9600 + 1500; // 10 bits a byte at 9600 bit/s
    QVERIFY(handOver(bytes, lineTime));
    QTRY_VERIFY_WITH_TIMEOUT(mSim->dataBytesReceived() > 1000, 5000);
    QVERIFY(mSim->dataBytesReceived() < 3000); // the line is paced: the file is on its way
    QElapsedTimer clock;
    clock.start();
    if (cut == QLatin1String("stop")) {
        const qint64 received = mSim->dataBytesReceived();
        mPort->stopPort();
        QVERIFY(mPort->wait(5000));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(100); // what the pty held may still reach the modem, never more
        QCOMPARE(answers.count(), 1);
        QVERIFY(mSim->dataBytesReceived() - received < 4096);
        return;
    }
    mSim->hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 5000);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!answerAt(answers, 1).contains("OK"));
    const double cpuBefore = processCpuSeconds();
    for (int i = 2; i < 6; ++i) {
        clock.restart();
        QVERIFY(handOver("ate0\r", 250));
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), i + 1, 5000);
        QVERIFY(clock.elapsed() < 250);
        QTest::qWait(100);
    }
    QVERIFY(processCpuSeconds() - cpuBefore < 0.3);
    QVERIFY(mPort->isPortOpened()); // the operator closes it
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"

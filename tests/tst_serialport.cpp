// The serial worker on its own thread, through the real QSerialPort, against
// the simulated modem on a pseudo-terminal.
#include "modemsim.h"
#include "serial/serialport.h"

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void missingPortFailsOnceThenAGoodOneOpens();
    void exchangeDeliversTheAnswer();
    void silentModemGivesAnEmptyAnswer();
    void handOverIsRefusedWhileBusy();
    void longAnswerTailArrivesAsUnaskedData();
    void scriptOutputArrivesAsUnaskedData();
    void commandPendingAtCloseIsNeverWritten();
    void longFileGoesOutWithinItsWait();
    void fileCutShort_data();
    void fileCutShort();

private:
    void open();
    void stop();
    bool handOver(const QByteArray &command, int wait);
    int startFile(const QByteArray &bytes);

    std::unique_ptr<ModemSim> mSim;
    std::unique_ptr<SerialPort> mPort;
};

void TestSerialPort::init()
{
    mSim = std::make_unique<ModemSim>();
    mSim->setPaced(false);
    QString error;
    QVERIFY2(mSim->start(&error), qPrintable(error));
    mPort = std::make_unique<SerialPort>();
}

void TestSerialPort::cleanup()
{
    stop();
    mPort.reset();
    mSim.reset();
}

void TestSerialPort::open()
{
    QSignalSpy opened(mPort.get(), &SerialPort::signal_openPort_ok);
    mPort->setPortSettings(mSim->portName(), 9600);
    mPort->startPort();
    QVERIFY(opened.wait(5000));
    QTRY_VERIFY(mPort->isPortOpened());
}

void TestSerialPort::stop()
{
    mPort->stopPort();
    mPort->wait();
    QVERIFY(!mPort->isPortOpened());
}

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

void TestSerialPort::missingPortFailsOnceThenAGoodOneOpens()
{
    QSignalSpy failed(mPort.get(), &SerialPort::signal_openPort_error);
    QSignalSpy opened(mPort.get(), &SerialPort::signal_openPort_ok);
    mPort->setPortSettings(QStringLiteral("/nonexistent/tty-lorta"), 9600);
    mPort->startPort();
    QVERIFY(mPort->wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(opened.count(), 0);
    QVERIFY(!mPort->isPortOpened());

    open();
    QCOMPARE(failed.count(), 1);
}

void TestSerialPort::exchangeDeliversTheAnswer()
{
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QVERIFY(mPort->setRequest("ate0\r", 250));
    QVERIFY(answers.wait(3000));
    QVERIFY(answers.at(0).at(0).toByteArray().contains("OK"));
    QCOMPARE(mSim->commands(), QList<QByteArray>{"ate0"});
}

void TestSerialPort::silentModemGivesAnEmptyAnswer()
{
    mSim->addFault(ModemFault::onPrefix("ate0", ModemFault::Silence));
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    for (int i = 0; i < 2; ++i) {
        QVERIFY(handOver("ate0\r", 100));
        QVERIFY(answers.wait(3000));
        QCOMPARE(answers.takeFirst().at(0).toByteArray(), QByteArray());
    }
}

void TestSerialPort::handOverIsRefusedWhileBusy()
{
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QVERIFY(mPort->setRequest("ate0\r", 500));
    QVERIFY(!mPort->setRequest("at\r", 250)); // pending or in its exchange
    QTRY_VERIFY(mSim->commands().size() == 1);
    QVERIFY(!mPort->setRequest("at\r", 250)); // in its exchange
    QVERIFY(answers.wait(3000));
    QVERIFY(handOver("at\r", 250));
    QVERIFY(answers.wait(3000));
    QCOMPARE(mSim->commands(), (QList<QByteArray>{"ate0", "at"}));
}

void TestSerialPort::longAnswerTailArrivesAsUnaskedData()
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
    QVERIFY(answers.wait(3000));
    const QByteArray head = answers.at(0).at(0).toByteArray();
    QVERIFY(!head.contains("OK"));
    const auto whole = [&] {
        QByteArray all = head;
        for (const QList<QVariant> &chunk : unasked)
            all += chunk.at(0).toByteArray();
        return all;
    };
    QTRY_VERIFY_WITH_TIMEOUT(whole().endsWith("OK\r\n"), 10000);
    for (const QList<QVariant> &chunk : unasked)
        QVERIFY(!chunk.at(0).toByteArray().isEmpty());
    QVERIFY(whole().endsWith("\r\n<<<" + file + "\r\nOK\r\n"));
}

void TestSerialPort::scriptOutputArrivesAsUnaskedData()
{
    mSim->setScriptOutputIntervalMs(200);
    open();
    QSignalSpy unasked(mPort.get(), &SerialPort::signal_receivedData);
    mSim->startScript();
    QVERIFY(unasked.wait(3000));
    QVERIFY(unasked.at(0).at(0).toByteArray().contains("v1.08"));
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

void TestSerialPort::longFileGoesOutWithinItsWait()
{
    // More bytes than the pseudo-terminal takes at once, on a paced line: the
    // worker must keep writing during the answer delay, or the modem would
    // never see the end of the file.
    QFile payload(QStringLiteral(":/files/main.pyo"));
    QVERIFY(payload.open(QIODevice::ReadOnly));
    const QByteArray bytes = payload.read(6000); // more than the pseudo-terminal takes at once
    const int lineTime = startFile(bytes);
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QVERIFY(answers.wait(lineTime + 5000));
    QVERIFY(answers.at(0).at(0).toByteArray().contains("OK"));
    QCOMPARE(mSim->file("main.pyo"), bytes);
}

// A stop or a lost line in the middle of a file's bytes ends the answer delay
// at once instead of after the whole file's wait. A stop drops the exchange
// unanswered and writes nothing more; a lost line answers with what came (no
// "OK"), and later exchanges on the dead line answer at once without spinning.
void TestSerialPort::fileCutShort_data()
{
    QTest::addColumn<bool>("hangUp");
    QTest::newRow("stop") << false;
    QTest::newRow("line lost") << true;
}

void TestSerialPort::fileCutShort()
{
    QFETCH(bool, hangUp);
    startFile(QByteArray(12000, 'x'));
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    QTRY_VERIFY_WITH_TIMEOUT(mSim->dataBytesReceived() > 1000, 5000);
    QElapsedTimer clock;
    clock.start();
    if (!hangUp) {
        const qint64 received = mSim->dataBytesReceived();
        mPort->stopPort();
        QVERIFY(mPort->wait(5000));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QCoreApplication::processEvents();
        QCOMPARE(answers.count(), 0);
        QTest::qWait(100); // what the pty held may still reach the modem, never more
        QVERIFY(mSim->dataBytesReceived() - received < 4096);
        return;
    }
    mSim->hangUp();
    QVERIFY(answers.wait(5000));
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!answers.takeFirst().at(0).toByteArray().contains("OK"));
    const double cpuBefore = processCpuSeconds();
    for (int i = 0; i < 4; ++i) {
        clock.restart();
        QVERIFY(handOver("ate0\r", 250));
        QVERIFY(answers.wait(5000));
        QVERIFY(clock.elapsed() < 250);
        QTest::qWait(100);
    }
    QVERIFY(processCpuSeconds() - cpuBefore < 0.3);
    QVERIFY(mPort->isPortOpened()); // the operator closes it
}

// The write command, its prompt, and the file's bytes on a paced line, handed
// over with a delay a little longer than their line time; returns that delay.
int TestSerialPort::startFile(const QByteArray &bytes)
{
    mSim->setPaced(true);
    open();
    QSignalSpy answers(mPort.get(), &SerialPort::signal_receivedAnswer);
    const QByteArray command =
        "at#wscript=\"main.pyo\"," + QByteArray::number(bytes.size()) + ",1\r";
    [&] {
        QVERIFY(mPort->setRequest(command, 1500));
        QVERIFY(answers.wait(5000));
        QVERIFY(answers.at(0).at(0).toByteArray().contains(">>>"));
    }();
    const int wait = bytes.size() * 10 * 1000 / 9600 + 1500; // 10 bits a byte at 9600 bit/s
    if (!handOver(bytes, wait))
        qWarning("file bytes not taken");
    return wait;
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"

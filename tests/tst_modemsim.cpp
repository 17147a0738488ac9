// The simulated modem as a client sees it: a real QSerialPort on the pty.
#include "modemsim.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(ModemFault)

namespace {
const QByteArray ok = QByteArrayLiteral("\r\nOK\r\n");
const QByteArray error = QByteArrayLiteral("\r\nERROR\r\n");
const QByteArray prompt = QByteArrayLiteral("\r\n>>> ");
// A command answered OK after every fault: whatever comes before its answer belongs
// to the command under test, and it proves the modem still takes commands.
const QByteArray probe = QByteArrayLiteral("at\r");
constexpr int answerTimeout = 10000;

QByteArray allByteValues(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char((i * 7) & 0xff));
    return bytes;
}
} // namespace

class TestModemSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writeHandshakeStoresExactBytes_data();
    void writeHandshakeStoresExactBytes();
    void answers_data();
    void answers();
    void linesMayArriveInPieces();
    void stopAndStartAgainKeepsTheFiles();
    void restartIsSilentThenEchoesAgain();
    void scriptPrintsVersionUntilStopped();
    void pacedScriptLinesArriveWhole();
    void faults_data();
    void faults();
    void garbageIsNeitherTextNorAnAnswer();
    void hangUpKillsTheLine_data();
    void hangUpKillsTheLine();
    void bytesNobodyReadsAreLost();
    void pacingHoldsTheLineRate();
    void standaloneServesUntilTerminated();

private:
    void startSim(bool paced = false);
    void connectClient(const QString &portName);
    QByteArray readUntil(int minSize, const QByteArray &tail);
    QByteArray send(const QByteArray &bytes, const QByteArray &answer);

    std::unique_ptr<ModemSim> mSim;
    std::unique_ptr<QSerialPort> mPort;
};

void TestModemSim::init()
{
    mSim = std::make_unique<ModemSim>();
    mSim->setFile("main.pyo", "abc");
    mSim->setFile("settings.ini", "K::v::d");
    mSim->setStorageCapacity(1000);
}

void TestModemSim::cleanup()
{
    mPort.reset();
    mSim.reset();
}

// Starts the sim, opens the client and turns the echo off; a fresh modem echoes.
void TestModemSim::startSim(bool paced)
{
    mSim->setPaced(paced);
    QString message;
    QVERIFY2(mSim->start(&message), qPrintable(message));
    connectClient(mSim->portName());
    QCOMPARE(send("ate0\r", "ate0\r" + ok), "ate0\r" + ok);
    QVERIFY(!mSim->echo());
}

void TestModemSim::connectClient(const QString &portName)
{
    mPort = std::make_unique<QSerialPort>();
    mPort->setPortName(portName);
    mPort->setBaudRate(QSerialPort::Baud9600);
    QVERIFY2(mPort->open(QIODevice::ReadWrite), qPrintable(mPort->errorString()));
}

// Reads until at least minSize bytes have come and they end with `tail`, or time runs out.
QByteArray TestModemSim::readUntil(int minSize, const QByteArray &tail)
{
    QByteArray got;
    QDeadlineTimer deadline(answerTimeout);
    while ((got.size() < minSize || !got.endsWith(tail)) && !deadline.hasExpired()) {
        mPort->waitForReadyRead(20);
        got += mPort->readAll();
    }
    return got;
}

QByteArray TestModemSim::send(const QByteArray &bytes, const QByteArray &answer)
{
    mPort->write(bytes);
    mPort->waitForBytesWritten(1000);
    return readUntil(answer.size(), answer.right(qMin(answer.size(), 6)));
}

void TestModemSim::writeHandshakeStoresExactBytes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("flag");
    QTest::newRow("settings text")
        << QByteArray("settings.ini") << QByteArray("APN::internet::x\r\nPIN::4721::y")
        << QByteArray();
    QTest::newRow("every byte value, zero, CR and LF inside")
        << QByteArray("config.pyo") << allByteValues(600) << QByteArray(",1");
    QTest::newRow("a lone carriage return") << QByteArray("cr") << QByteArray("\r") << QByteArray();
    QTest::newRow("replaces a file in place")
        << QByteArray("main.pyo") << QByteArray("new\0main", 8) << QByteArray(",1");
}

void TestModemSim::writeHandshakeStoresExactBytes()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, flag);
    startSim();
    const QByteArray command =
        "at#wscript=\"" + name + "\"," + QByteArray::number(bytes.size()) + flag;
    QCOMPARE(send(command + '\r', prompt), prompt);
    QCOMPARE(send(bytes, ok), ok);

    QCOMPARE(mSim->file(name), bytes);
    QCOMPARE(mSim->dataBytesReceived(), qint64(bytes.size()));
    QCOMPARE(mSim->commands(), (QList<QByteArray>{"ate0", command}));
    QCOMPARE(mSim->files().first().first, QByteArray("main.pyo"));
}

void TestModemSim::answers_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArrayList>("namesAfter");
    const QByteArrayList both{"main.pyo", "settings.ini"};
    QTest::newRow("listing") << QByteArray("at#lscript")
                             << QByteArray("\r\n#LSCRIPT: \"main.pyo\",3\r\n"
                                           "#LSCRIPT: \"settings.ini\",7\r\n"
                                           "#LSCRIPT: free bytes: 990\r\n") +
                                    ok
                             << both;
    QTest::newRow("read") << QByteArray("at#rscript=\"settings.ini\"")
                          << QByteArray("\r\n<<<K::v::d") + ok << both;
    QTest::newRow("read missing") << QByteArray("at#rscript=\"x\"") << error << both;
    QTest::newRow("delete") << QByteArray("at#dscript=\"main.pyo\"") << ok
                            << QByteArrayList{"settings.ini"};
    QTest::newRow("delete missing") << QByteArray("at#dscript=\"Main.pyo\"") << error << both;
    QTest::newRow("select") << QByteArray("at#escript=\"main.pyo\"") << ok << both;
    QTest::newRow("select none") << QByteArray("at#escript=\"\"") << ok << both;
    QTest::newRow("start mode off") << QByteArray("at#startmodescr=0") << ok << both;
    QTest::newRow("start mode on") << QByteArray("at#startmodescr=1,10") << ok << both;
    QTest::newRow("start mode bad") << QByteArray("at#startmodescr=2") << error << both;
    QTest::newRow("unknown") << QByteArray("at+cgmi") << error << both;
    QTest::newRow("write without size") << QByteArray("at#wscript=\"a\"") << error << both;
    QTest::newRow("write of zero bytes") << QByteArray("at#wscript=\"a\",0") << error << both;
    QTest::newRow("write unquoted") << QByteArray("at#wscript=a,3") << error << both;
    QTest::newRow("write beyond free space") << QByteArray("at#wscript=\"a\",991") << error << both;
}

void TestModemSim::answers()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArrayList, namesAfter);
    startSim();
    // The probe shows that no data phase or silence followed the command.
    QCOMPARE(send(command + '\r' + probe, answer + ok), answer + ok);
    QByteArrayList names;
    for (const auto &entry : mSim->files())
        names << entry.first;
    QCOMPARE(names, namesAfter);
}

void TestModemSim::linesMayArriveInPieces()
{
    startSim();
    mPort->write("at#rscr");
    mPort->waitForBytesWritten(1000);
    // "\n" is no line end and empty lines are not commands.
    const QByteArray answer = "\r\n<<<K::v::d" + ok;
    QCOMPARE(send("ipt=\"settings.ini\"\r\n\r\n", answer), answer);
    QCOMPARE(mSim->commands(), (QList<QByteArray>{"ate0", "at#rscript=\"settings.ini\""}));
}

void TestModemSim::stopAndStartAgainKeepsTheFiles()
{
    startSim();
    QCOMPARE(send("at#dscript=\"main.pyo\"\r", ok), ok);
    mPort.reset();
    mSim->stop();
    QVERIFY(mSim->portName().isEmpty());
    startSim();
    QVERIFY(!mSim->portName().isEmpty());
    const QByteArray listing = send("at#lscript\r", ok);
    QVERIFY(!listing.contains("main.pyo"));
    QVERIFY(listing.contains("settings.ini"));
}

void TestModemSim::restartIsSilentThenEchoesAgain()
{
    mSim->setRestartSilenceMs(1000);
    startSim();
    QCOMPARE(send("at#enhrst=1,0\r", ok), ok);
    QVERIFY(mSim->restarting());
    mPort->write("ate0\r");
    QTRY_COMPARE(mSim->commands().size(), 3);
    QTRY_VERIFY(!mSim->restarting());
    // Nothing came for the first ate0; the second is echoed, as after power-up.
    QCOMPARE(send("ate0\r", "ate0\r" + ok), "ate0\r" + ok);
}

void TestModemSim::scriptPrintsVersionUntilStopped()
{
    mSim->setScriptOutputIntervalMs(50);
    startSim();
    QCOMPARE(send("at#execscr\r", ok + "v1.08\r\nv1.08\r\n"), ok + "v1.08\r\nv1.08\r\n");
    QVERIFY(mSim->scriptRunning());
    mPort->write("ate0\r");
    QTRY_COMPARE(mSim->commands().size(), 3);
    mSim->stopScript("Ошибка SIM");
    const QByteArray stop = "Stop Script: " + QByteArray("Ошибка SIM") + "\r\n";
    const QByteArray meanwhile = readUntil(stop.size(), stop);
    QVERIFY(meanwhile.endsWith(stop));
    // Only version lines came while the script ran: the ate0 was not answered.
    QCOMPARE(meanwhile.chopped(stop.size()).replace("v1.08\r\n", ""), QByteArray());
    QVERIFY(!mSim->scriptRunning());
    QCOMPARE(send(probe, ok), ok);
}

void TestModemSim::pacedScriptLinesArriveWhole()
{
    // Read as the tool does: what has come as soon as anything comes. The version must
    // never be cut into pieces, or the tool would not recognise the running script.
    const QByteArray version = QByteArrayLiteral("v1.08\r\n");
    mSim->setScriptOutputIntervalMs(200);
    startSim(true);
    QCOMPARE(send("at#execscr\r", ok + version), ok + version);
    const int commandsBefore = mSim->commands().size();
    QList<QByteArray> reads;
    QElapsedTimer clock;
    clock.start();
    for (qint64 nextCommandMs = 0; clock.elapsed() < 1300;) {
        if (clock.elapsed() >= nextCommandMs) {
            mPort->write("ate0\r");
            mPort->waitForBytesWritten(1000);
            nextCommandMs += 50;
        }
        mPort->waitForReadyRead(5);
        const QByteArray got = mPort->readAll();
        if (!got.isEmpty())
            reads << got;
    }
    QVERIFY(mSim->commands().size() > commandsBefore + 10);
    QVERIFY2(reads.size() >= 4, qPrintable(QString::number(reads.size())));
    for (const QByteArray &got : reads)
        QVERIFY2(got == version.repeated(got.size() / version.size()), got.toHex().constData());
    QVERIFY(mSim->scriptRunning());
}

// A fault rule fires on its command; data: the file bytes sent after the prompt, if any.
void TestModemSim::faults_data()
{
    QTest::addColumn<ModemFault>("fault");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<qint64>("taken");
    QTest::addColumn<bool>("mainStays");
    using F = ModemFault;
    const QByteArray del = "at#dscript=\"main.pyo\"";
    const QByteArrayList write{"at#wscript=\"n\",10"};
    QTest::newRow("2nd command: error")
        << F::onCommand(2, F::Error) << QByteArrayList{del} << QByteArray() << error << 0ll << true;
    QTest::newRow("silence, not carried out")
        << F::onPrefix("at#dscript", F::Silence) << QByteArrayList{del} << QByteArray()
        << QByteArray() << 0ll << true;
    QTest::newRow("first match only")
        << F::onPrefix("at#dscript", F::Error, 1) << QByteArrayList{del, del} << QByteArray()
        << error + ok << 0ll << false;
    QTest::newRow("stray prompt") << F::onPrefix("at#lscript", F::StrayPrompt)
                                  << QByteArrayList{"at#lscript"} << QByteArray() << prompt << 0ll
                                  << true;
    QTest::newRow("ok without prompt: no data phase")
        << F::onPrefix("at#wscript", F::OkWithoutPrompt) << QByteArrayList{"at#wscript=\"n\",3"}
        << QByteArray() << ok << 0ll << true;
    QTest::newRow("half answer") << F::onCommand(2, F::HalfAnswer) << QByteArrayList{"at#lscript"}
                                 << QByteArray() << QByteArray("\r\nO") << 0ll << true;
    QTest::newRow("stall after 4 bytes")
        << F::onPrefix("at#wscript", F::DataStall).afterDataBytes(4) << write
        << QByteArray("0123456789") << QByteArray() << 4ll << true;
    QTest::newRow("error after the bytes") << F::onPrefix("at#wscript", F::DataError) << write
                                           << QByteArray("0123456789") << error << 10ll << true;
}

void TestModemSim::faults()
{
    QFETCH(ModemFault, fault);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, answer);
    startSim();
    mSim->addFault(fault);
    const QByteArray lines = commands.join('\r') + '\r';
    if (!data.isNull())
        QCOMPARE(send(lines, prompt), prompt);
    QCOMPARE(send((data.isNull() ? lines : data) + probe, answer + ok), answer + ok);
    QTEST(mSim->dataBytesReceived(), "taken");
    QTEST(mSim->hasFile("main.pyo"), "mainStays");
    QVERIFY(!mSim->hasFile("n"));
}

void TestModemSim::garbageIsNeitherTextNorAnAnswer()
{
    startSim();
    mSim->addFault(ModemFault::onCommand(2, ModemFault::Garbage));
    mPort->write("at#lscript\r" + probe);
    const QByteArray got = readUntil(ok.size() + 8, ok);
    const QByteArray garbage = got.chopped(ok.size());
    QVERIFY(garbage.contains('\0'));
    QVERIFY(!garbage.contains("OK"));
    QVERIFY(!garbage.contains(">>>"));
    QVERIFY(QString::fromUtf8(garbage).toUtf8() != garbage);
}

void TestModemSim::hangUpKillsTheLine_data()
{
    QTest::addColumn<bool>("byFault");
    QTest::newRow("fault on a command") << true;
    QTest::newRow("hangUp()") << false;
}

void TestModemSim::hangUpKillsTheLine()
{
    QFETCH(bool, byFault);
    startSim();
    if (byFault) {
        mSim->addFault(ModemFault::onCommand(2, ModemFault::HangUp));
        mPort->write(probe);
        QTRY_VERIFY(mSim->isHungUp());
    } else {
        mSim->hangUp();
        QVERIFY(mSim->isHungUp());
    }
    QTRY_VERIFY(mPort->error() != QSerialPort::NoError);
    mSim->stop();
    QVERIFY(!mSim->isRunning());
}

void TestModemSim::bytesNobodyReadsAreLost()
{
    mSim->setPaced(false);
    QVERIFY(mSim->start());
    mSim->sendUnsolicited("before any client\r\n");
    QTRY_COMPARE(mSim->bytesSent(), qint64(19));
    connectClient(mSim->portName());
    mPort->write(probe);
    QTRY_COMPARE(mSim->bytesSent(), qint64(19 + 9));
    mPort->close(); // the echo and the OK stay unread
    connectClient(mSim->portName());
    QCOMPARE(send(probe, probe + ok), probe + ok);
}

void TestModemSim::pacingHoldsTheLineRate()
{
    // 10 bits a byte at 9600 bit/s: 480 bytes take 500 ms each way. Only a lower bound
    // is tight; a loaded machine can only make the line slower.
    startSim(true);
    const QByteArray bytes = allByteValues(480);
    QCOMPARE(send("at#wscript=\"p\",480\r", prompt), prompt);
    QElapsedTimer clock;
    clock.start();
    mPort->write(bytes);
    mPort->waitForBytesWritten(1000);
    QTRY_VERIFY(mSim->dataBytesReceived() > 0);
    QVERIFY2(mSim->dataBytesReceived() < 480, "the file crossed the line at once");
    QCOMPARE(readUntil(ok.size(), ok), ok);
    const qint64 inMs = clock.elapsed();

    clock.restart();
    const QByteArray answer = "\r\n<<<" + bytes + ok;
    QCOMPARE(send("at#rscript=\"p\"\r", answer), answer);
    const qint64 outMs = clock.elapsed();
    QVERIFY2(inMs >= 450 && inMs < 5000, qPrintable(QString::number(inMs)));
    QVERIFY2(outMs >= 450 && outMs < 5000, qPrintable(QString::number(outMs)));
}

void TestModemSim::standaloneServesUntilTerminated()
{
    const QString program =
        QCoreApplication::applicationDirPath() + "/../tools/modemsim/lorta-modem-sim";
    if (!QFileInfo::exists(program))
        QSKIP("lorta-modem-sim is not built");
    QProcess sim;
    sim.start(program, {"--no-pacing", "--demo"});
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY(sim.canReadLine());
    connectClient(QString::fromLocal8Bit(sim.readLine().trimmed()));
    const QByteArray listing = send("at#lscript\r", ok);
    QVERIFY(listing.endsWith(ok));
    for (const char *name : {"main.pyo", "config.pyo", "settings.ini"})
        QVERIFY(listing.contains("#LSCRIPT: \"" + QByteArray(name) + "\","));
    const QByteArray settings = send("at#rscript=\"settings.ini\"\r", ok);
    QVERIFY(settings.contains("<<<CRYPT_DATA::0::"));
    QCOMPARE(settings.count("\r\n"), 1 + 8 + 2); // "\r\n<<<", 8 between nine lines, OK
    sim.terminate();
    QVERIFY(sim.waitForFinished());
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"

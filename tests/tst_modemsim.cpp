// What the other tests take for granted about the simulated modem and would
// not notice if it broke, seen by a client through a real QSerialPort.
#include "modemsim.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

namespace {
const QByteArray ok = QByteArrayLiteral("\r\nOK\r\n");
constexpr int answerTimeout = 10000;
} // namespace

class TestModemSim : public QObject
{
    Q_OBJECT

private slots:
    void garbageIsNeitherTextNorAnAnswer();
    void pacingHoldsTheLineRate();

private:
    void start(bool paced);
    QByteArray send(const QByteArray &bytes, const QByteArray &tail);

    ModemSim mSim;
    QSerialPort mPort;
};

// Starts the modem, opens the client and turns the echo off.
void TestModemSim::start(bool paced)
{
    mPort.close();
    mSim.stop();
    mSim.setPaced(paced);
    QString error;
    QVERIFY2(mSim.start(&error), qPrintable(error));
    mPort.setPortName(mSim.portName());
    QVERIFY2(mPort.open(QIODevice::ReadWrite), qPrintable(mPort.errorString()));
    QCOMPARE(send("ate0\r", ok), "ate0\r" + ok);
}

// Sends the bytes and reads until the answer ends with `tail`, or time runs out.
QByteArray TestModemSim::send(const QByteArray &bytes, const QByteArray &tail)
{
    mPort.write(bytes);
    QByteArray got;
    QDeadlineTimer deadline(answerTimeout);
    while (!got.endsWith(tail) && !deadline.hasExpired()) {
        mPort.waitForReadyRead(20);
        got += mPort.readAll();
    }
    return got;
}

// The garbage fault must test the tool's handling of zero bytes and broken
// UTF-8, and must never pass for an answer.
void TestModemSim::garbageIsNeitherTextNorAnAnswer()
{
    start(false);
    mSim.addFault(ModemFault::onPrefix("at#lscript", ModemFault::Garbage));
    const QByteArray got = send("at#lscript\rat\r", ok);
    QVERIFY(got.endsWith(ok));
    const QByteArray garbage = got.chopped(ok.size());
    QVERIFY(garbage.size() > 8);
    QVERIFY(garbage.contains('\0'));
    QVERIFY(!garbage.contains("OK"));
    QVERIFY(!garbage.contains(">>>"));
    QVERIFY(QString::fromUtf8(garbage).toUtf8() != garbage);
}

// 10 bits a byte at 9600 bit/s: 480 bytes take 500 ms each way. Only the lower
// bound is tight; a loaded machine can only make the line slower.
void TestModemSim::pacingHoldsTheLineRate()
{
    start(true);
    const QByteArray bytes(480, 'p');
    QCOMPARE(send("at#wscript=\"p\",480\r", ">>> "), QByteArray("\r\n>>> "));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(send(bytes, ok), ok);
    const qint64 inMs = clock.elapsed();
    clock.restart();
    QCOMPARE(send("at#rscript=\"p\"\r", ok), "\r\n<<<" + bytes + ok);
    const qint64 outMs = clock.elapsed();
    QVERIFY2(inMs >= 450, qPrintable(QString::number(inMs)));
    QVERIFY2(outMs >= 450, qPrintable(QString::number(outMs)));
}

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"

// The tool's waits: the defaults are the waits the modem needs, each one
// checked by name, and a scaled timing shortens every wait and no count.
#include "protocol/modemcommands.h"
#include "protocol/timing.h"

#include <QtTest>
#include <climits>

namespace {
// Every wait of a timing by name, in microseconds.
QMap<QString, qint64> waitsOf(const Timing &t)
{
    using std::chrono::microseconds;
    const auto us = [](auto wait) { return qint64(microseconds(wait).count()); };
    return {{"answer: usual", us(t.answer.usual)},
            {"file bytes: least", us(t.fileBytes.least)},
            {"file bytes: small, a byte", us(t.fileBytes.smallFilePerByte)},
            {"file bytes: large, a byte", us(t.fileBytes.largeFilePerByte)},
            {"worker: write", us(t.worker.write)},
            {"worker: first read", us(t.worker.firstRead)},
            {"worker: pass sleep", us(t.worker.passSleep)},
            {"worker: unasked, first", us(t.worker.unaskedFirst)},
            {"worker: unasked, second", us(t.worker.unaskedSecond)},
            {"worker: unasked, third", us(t.worker.unaskedThird)},
            {"worker: answer slice", us(t.worker.answerSlice)},
            {"worker: idle sleep", us(t.worker.idleSleep)},
            {"presence interval", us(t.presenceInterval)},
            {"start delay", us(t.startDelay())},
            {"hand-over retry", us(t.handOverRetry)},
            {"port poll", us(t.portPoll)},
            {"port confirm", us(t.portConfirm)},
            {"listing settle", us(t.listingSettle)},
            {"listing refresh", us(t.listingRefresh)},
            {"pull grace", us(t.pullGrace)},
            {"console redraw", us(t.redraw)},
            {"console finish", us(t.outputFinish)},
            {"bench counters", us(t.benchCounters)},
            {"bench adapters", us(t.benchAdapters)},
            {"bench close within", us(t.benchCloseWithin)}};
}
} // namespace

class TestTiming : public QObject
{
    Q_OBJECT

private slots:
    void commandWaits_data();
    void commandWaits();
    void otherWaits_data();
    void otherWaits();
    void fileBytesWait_data();
    void fileBytesWait();
    void scaledShortensEveryWait();
};

// Each command the tool sends, with the answer wait the modem needs.
void TestTiming::commandWaits_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<int>("ms");
    QTest::newRow("ate0") << ModemCommands::echoOff() << 250;
    QTest::newRow("at#rscript") << ModemCommands::readSettings() << 2000;
    QTest::newRow("at#escript=\"\"") << ModemCommands::unselectScript() << 250;
    QTest::newRow("at#startmodescr=0") << ModemCommands::startModeOff() << 250;
    QTest::newRow("at#enhrst") << ModemCommands::restart() << 250;
    QTest::newRow("at#lscript") << ModemCommands::listScripts() << 2000;
    QTest::newRow("at#dscript") << QByteArray("at#dscript=\"main.pyo\"\r") << 500;
    QTest::newRow("at#wscript") << QByteArray("at#wscript=\"main.pyo\",12859,1\r") << 1500;
    QTest::newRow("at#startmodescr=1,10") << ModemCommands::startModeOn() << 250;
    QTest::newRow("at#escript=\"main.pyo\"") << ModemCommands::selectMain() << 250;
    QTest::newRow("at#execscr") << ModemCommands::execScript() << 250;
    QTest::newRow("at+cgsn") << ModemCommands::imeiQuery() << 250;
    QTest::newRow("as the modem logs it, without \\r") << QByteArray("at#lscript") << 2000;
    QTest::newRow("anything else") << QByteArray("at\r") << 250;
}

// The named wait of each command is the one looked up by its line.
void TestTiming::commandWaits()
{
    QFETCH(QByteArray, command);
    QFETCH(int, ms);
    const Timing::AnswerWaits waits = Timing().answer;
    QCOMPARE(msOf(waits.forCommand(command)), ms);
    const QMap<QByteArray, Timing::Ms> named{
        {ModemCommands::echoOff(), waits.echoOff},
        {ModemCommands::readSettings(), waits.readSettings},
        {ModemCommands::unselectScript(), waits.unselectScript},
        {ModemCommands::startModeOff(), waits.startModeOff},
        {ModemCommands::restart(), waits.restart},
        {ModemCommands::listScripts(), waits.listScripts},
        {ModemCommands::startModeOn(), waits.startModeOn},
        {ModemCommands::selectMain(), waits.selectMain},
        {ModemCommands::execScript(), waits.execScript},
        {ModemCommands::imeiQuery(), waits.imeiQuery}};
    if (named.contains(command))
        QCOMPARE(msOf(named.value(command)), ms);
    if (command.startsWith("at#dscript"))
        QCOMPARE(msOf(waits.deleteScript), ms);
    if (command.startsWith("at#wscript"))
        QCOMPARE(msOf(waits.writeScript), ms);
}

void TestTiming::otherWaits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("us");
    const QList<QPair<const char *, qint64>> rows{{"answer: usual", 250000},
                                                  {"file bytes: least", 1500000},
                                                  {"file bytes: small, a byte", 3000},
                                                  {"file bytes: large, a byte", 2000},
                                                  {"worker: write", 100000},
                                                  {"worker: first read", 100000},
                                                  {"worker: pass sleep", 5000},
                                                  {"worker: unasked, first", 50000},
                                                  {"worker: unasked, second", 50000},
                                                  {"worker: unasked, third", 30000},
                                                  {"worker: answer slice", 20000},
                                                  {"worker: idle sleep", 1000000},
                                                  {"presence interval", 250000},
                                                  {"start delay", 450000},
                                                  {"hand-over retry", 5000},
                                                  {"port poll", 500000},
                                                  {"port confirm", 150000},
                                                  {"listing settle", 3000000},
                                                  {"listing refresh", 30000000},
                                                  {"pull grace", 1500000},
                                                  {"console redraw", 200000},
                                                  {"console finish", 2000000},
                                                  {"bench counters", 1000000},
                                                  {"bench adapters", 2000000},
                                                  {"bench close within", 500000}};
    for (const auto &[name, us] : rows)
        QTest::newRow(name) << QString::fromLatin1(name) << us;
}

void TestTiming::otherWaits()
{
    QFETCH(QString, name);
    QFETCH(qint64, us);
    const QMap<QString, qint64> waits = waitsOf(Timing());
    QVERIFY2(waits.contains(name), qPrintable(name));
    QCOMPARE(waits.value(name), us);
    QCOMPARE(Timing().presenceAnswers, 5);
}

// A file's bytes: 3 ms a byte up to 1000 bytes, 2 ms from 1001, never below 1500 ms.
void TestTiming::fileBytesWait_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("ms");
    const QList<QPair<qint64, int>> waits{
        {0, 1500},    {500, 1500},    {501, 1503}, {1000, 3000},
        {1001, 2002}, {12859, 25718}, {-1, 1500},  {qint64(1) << 40, INT_MAX}};
    for (const auto &[size, ms] : waits)
        QTest::newRow(qPrintable(QString::number(size))) << size << ms;
}

void TestTiming::fileBytesWait()
{
    QFETCH(qint64, size);
    QFETCH(int, ms);
    QCOMPARE(msOf(Timing().fileBytesAnswerWait(size)), ms);
}

// A twentieth: every wait rounded up, none of them gone; the five answers stay five.
void TestTiming::scaledShortensEveryWait()
{
    const Timing fast = Timing().scaled(20);
    const QMap<QString, qint64> product = waitsOf(Timing());
    const QMap<QString, qint64> scaled = waitsOf(fast);
    for (auto it = product.cbegin(); it != product.cend(); ++it) {
        const qint64 unit =
            it.key().startsWith("file bytes: s") || it.key().startsWith("file bytes: l") ? 1 : 1000;
        const qint64 expected = std::max<qint64>(1, (it.value() / unit + 19) / 20) * unit;
        QVERIFY2(scaled.value(it.key()) == expected, qPrintable(it.key()));
    }
    QCOMPARE(msOf(fast.answer.forCommand(ModemCommands::listScripts())), 100);
    QCOMPARE(msOf(fast.fileBytesAnswerWait(12859)), 1286);
    QCOMPARE(fast.presenceAnswers, 5);
    QCOMPARE(fast.fileBytes.smallFileBytes, qint64(1000));
    QCOMPARE(msOf(Timing().scaled(1).startDelay()), 450);
    // A floor under the answer waits only: the paces stay scaled.
    const Timing floored = fast.withAnswersAtLeast(Timing::Ms{50});
    QCOMPARE(msOf(floored.answer.forCommand(ModemCommands::echoOff())), 50);
    QCOMPARE(msOf(floored.answer.forCommand(ModemCommands::listScripts())), 100);
    QCOMPARE(msOf(floored.fileBytesAnswerWait(10)), 75);
    QCOMPARE(msOf(floored.presenceInterval), 13);
    QCOMPARE(msOf(floored.worker.firstRead), 5);
}

QTEST_GUILESS_MAIN(TestTiming)
#include "tst_timing.moc"

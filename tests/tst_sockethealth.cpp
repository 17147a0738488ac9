// The sockets' health: which results take a socket out of service, the
// reason shown, a re-enable, and the counts rebuilt from today's journal lines
// after a restart.
#include "line/journal.h"
#include "line/sockethealth.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
using Result = JournalRecord::Result;

// A result written as "F:imei" or "F:imei@socket" (socket 1 when not given):
// S success, F failure, N no answer, O port not opened, U unplugged,
// P already flashed, I interrupted, D socket disabled.
JournalRecord step(const QString &token)
{
    static const QHash<QChar, Result> letters{
        {'S', Result::Success},     {'F', Result::Failure},        {'N', Result::NoAnswer},
        {'O', Result::OpenFailed},  {'U', Result::Unplugged},      {'P', Result::AlreadyFlashed},
        {'I', Result::Interrupted}, {'D', Result::SocketDisabled},
    };
    const int at = token.indexOf(QLatin1Char('@'));
    JournalRecord record;
    record.result = letters.value(token.at(0));
    record.imei = token.mid(2, at < 0 ? -1 : at - 2);
    record.socket = at < 0 ? 1 : token.mid(at + 1).toInt();
    return record;
}

QString token(const JournalRecord &record)
{
    const QString letters = QStringLiteral("SFIUONPD"); // in the order of Result
    return letters.at(int(record.result)) + QStringLiteral(":") + record.imei +
           QStringLiteral("@") + QString::number(record.socket);
}

void writeLines(const QString &fileName, const QDateTime &time, const QStringList &steps)
{
    Journal journal;
    journal.setClock([time] { return time; });
    QString error;
    QVERIFY2(journal.open(fileName, &error), qPrintable(error));
    for (const QString &text : steps) {
        JournalRecord record = step(text);
        record.port = QStringLiteral("ttyUSB0");
        record.job = QStringLiteral("flash");
        if (record.result == Result::SocketDisabled)
            record.text = SocketHealth::reasonText(record.socket, 3);
        QVERIFY2(journal.append(record, &error), qPrintable(error));
    }
}

// Feeds the steps live; the socket 1 is taken out of service at the step disabledAt only.
void feed(SocketHealth &health, const QStringList &steps, int disabledAt)
{
    for (int i = 0; i < steps.size(); ++i) {
        const JournalRecord record = step(steps.at(i));
        QVERIFY2(health.count(record.socket, record.result, record.imei) == (i == disabledAt),
                 qPrintable(steps.at(i)));
        QCOMPARE(health.isDisabled(1), disabledAt >= 0 && i >= disabledAt);
    }
}

const QDateTime yesterday(QDate(2026, 3, 4), QTime(23, 50));
const QDateTime today(QDate(2026, 3, 5), QTime(8, 0));
} // namespace

class TestSocketHealth : public QObject
{
    Q_OBJECT

private slots:
    void quarantine_data();
    void quarantine();
    void reasonText_data();
    void reasonText();
    void reenableStartsTheRowAfresh();
    void journalGivesTodaysLines();
    void restoredFromTheJournal_data();
    void restoredFromTheJournal();
};

void TestSocketHealth::quarantine_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("disabledAt");
    QTest::addColumn<int>("failuresInRow"); // the socket 1's, at the end
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("succeeded");

    QTest::newRow("three modems, each kind of failure")
        << 3 << QStringList{"F:A", "N:B", "O:C"} << 2 << 3 << 3 << 0;
    QTest::newRow("one modem three times")
        << 3 << QStringList{"F:A", "F:A", "N:A"} << -1 << 3 << 3 << 0;
    QTest::newRow("a modem twice among the last three")
        << 3 << QStringList{"F:A", "F:B", "F:A"} << -1 << 3 << 3 << 0;
    QTest::newRow("the last three on different modems")
        << 3 << QStringList{"F:A", "F:B", "F:A", "F:C"} << 3 << 4 << 4 << 0;
    QTest::newRow("modems without an IMEI")
        << 3 << QStringList{"F:", "N:", "O:"} << 2 << 3 << 3 << 0;
    QTest::newRow("without an IMEI, and one modem twice")
        << 3 << QStringList{"F:", "F:A", "N:A"} << -1 << 3 << 3 << 0;
    QTest::newRow("passed over: neither counted nor ending the row")
        << 3 << QStringList{"F:A", "U:X", "P:Y", "I:Z", "D:", "F:B", "O:C"} << 6 << 3 << 3 << 0;
    QTest::newRow("a success ends the row")
        << 3 << QStringList{"F:A", "F:B", "S:C", "F:D", "F:E", "F:G"} << 5 << 3 << 5 << 1;
    QTest::newRow("sockets counted apart")
        << 3 << QStringList{"F:A", "F:B@2", "F:C", "F:D@2", "F:E"} << 4 << 3 << 3 << 0;
    QTest::newRow("out of service once")
        << 3 << QStringList{"F:A", "F:B", "F:C", "F:D"} << 2 << 4 << 4 << 0;
    QTest::newRow("a limit of 0 is off")
        << 0 << QStringList{"F:A", "F:B", "F:C", "F:D"} << -1 << 4 << 4 << 0;
    QTest::newRow("a limit of 1") << 1 << QStringList{"S:A", "F:A"} << 1 << 1 << 1 << 1;
}

void TestSocketHealth::quarantine()
{
    QFETCH(int, limit);
    QFETCH(QStringList, steps);
    QFETCH(int, disabledAt);
    QFETCH(int, failuresInRow);
    QFETCH(int, failed);
    QFETCH(int, succeeded);
    SocketHealth health(limit);
    feed(health, steps, disabledAt);
    const SocketHealth::Today counts = health.today(1);
    QCOMPARE(counts.failuresInRow, failuresInRow);
    QCOMPARE(counts.failed, failed);
    QCOMPARE(counts.succeeded, succeeded);
    QVERIFY(!health.isDisabled(2));
}

void TestSocketHealth::reasonText_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<QString>("counted");
    const QList<QPair<int, QString>> rows{
        {1, "1 ошибка"},     {2, "2 ошибки"},     {4, "4 ошибки"},   {5, "5 ошибок"},
        {11, "11 ошибок"},   {14, "14 ошибок"},   {21, "21 ошибка"}, {22, "22 ошибки"},
        {111, "111 ошибок"}, {112, "112 ошибок"},
    };
    for (const auto &[failures, counted] : rows)
        QTest::newRow(qPrintable(counted)) << failures << counted;
}

// The reason names the socket and the limit, with the count's Russian plural.
void TestSocketHealth::reasonText()
{
    QFETCH(int, failures);
    QFETCH(QString, counted);
    const QString reason =
        QStringLiteral("Гнездо 7 отключено: ") + counted +
        QStringLiteral(" подряд на разных модемах — проверьте кабель и порт хаба");
    QCOMPARE(SocketHealth::reasonText(7, failures), reason);

    SocketHealth health(failures);
    for (int i = 0; i < failures; ++i) {
        QCOMPARE(health.disabledReason(7), QString());
        health.count(7, Result::Failure, QString());
    }
    QCOMPARE(health.disabledReason(7), reason);
}

void TestSocketHealth::reenableStartsTheRowAfresh()
{
    QCOMPARE(SocketHealth::reasonText(3, 3),
             QStringLiteral("Гнездо 3 отключено: 3 ошибки подряд на разных модемах — проверьте "
                            "кабель и порт хаба"));
    SocketHealth health(3);
    feed(health, {"F:A", "F:B", "F:C"}, 2);
    QCOMPARE(health.todayText(1),
             QStringLiteral("Гнездо 1 сегодня: успешно 0, ошибок 3, подряд 3 — отключено"));
    health.reenable(1);
    QCOMPARE(health.todayText(1),
             QStringLiteral("Гнездо 1 сегодня: успешно 0, ошибок 3, подряд 0"));
    QVERIFY(!health.isDisabled(1));
    QCOMPARE(health.disabledReason(1), QString());
    QCOMPARE(health.today(1).failuresInRow, 0);
    QCOMPARE(health.today(1).failed, 3);
    // The last modems before the re-enable do not count towards the next quarantine.
    feed(health, {"F:D", "F:E", "F:G"}, 2);
    health.reenable(9); // a socket never seen
    QVERIFY(!health.isDisabled(9));
}

// Today's lines per the journal's clock, read back when it opens and noted as
// they are written: a line of another day, one of a result this journal does
// not know, and the header are none of them.
void TestSocketHealth::journalGivesTodaysLines()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    writeLines(file, yesterday, {"F:A@1", "S:B@2"});
    writeLines(file, today, {"N:C@1", "D:@1", "P:D@3", "S:@2"});
    QFile raw(file);
    QVERIFY(raw.open(QIODevice::Append));
    raw.write("2026-03-05 08:01:00;b;1;ttyUSB0;;X;flash;новый результат;;;0;v9.9;;;;\r\n"
              "2026-03-05 08:01:00;b;;ttyUSB0;;X;flash;ошибка;;;0;v9.9;;;;\r\n");
    raw.close();

    QDateTime now = today;
    Journal journal;
    journal.setClock([&now] { return now; });
    QString error;
    QVERIFY(journal.open(file, &error));
    QCOMPARE(journal.todaysRecords().size(), 4);
    const JournalRecord first = journal.todaysRecords().first();
    QVERIFY(first.port.isEmpty() && first.job.isEmpty() && first.text.isEmpty());
    JournalRecord unplugged = step(QStringLiteral("U:E@2"));
    unplugged.port = QStringLiteral("ttyUSB1");
    QVERIFY(journal.append(unplugged, &error));
    QStringList tokens;
    for (const JournalRecord &record : journal.todaysRecords())
        tokens << token(record);
    QCOMPARE(tokens, (QStringList{"N:C@1", "D:@1", "P:D@3", "S:@2", "U:E@2"}));

    now = now.addDays(1); // past midnight while running
    QVERIFY(journal.todaysRecords().isEmpty());
    QVERIFY(journal.append(step(QStringLiteral("O:G@4")), &error));
    QCOMPARE(journal.todaysRecords().size(), 1);
    QCOMPARE(token(journal.todaysRecords().first()), QStringLiteral("O:G@4"));
}

// A restart keeps today's counts and is how the command line re-enables a
// socket: nothing is out of service after it, and a row that took its socket
// out of service (with its "гнездо отключено" line, or without it when the run
// stopped first) starts afresh.
void TestSocketHealth::restoredFromTheJournal_data()
{
    QTest::addColumn<QStringList>("yesterdays");
    QTest::addColumn<QStringList>("todays");
    QTest::addColumn<int>("failuresInRow"); // the socket 1's, after the restart
    QTest::addColumn<int>("failed");
    QTest::addColumn<int>("succeeded");
    QTest::addColumn<QStringList>("next");
    QTest::addColumn<int>("disabledAt");

    QTest::newRow("yesterday's lines left out") << QStringList{"F:A", "F:B"} << QStringList{"F:C"}
                                                << 1 << 1 << 0 << QStringList{"F:D", "F:E"} << 1;
    QTest::newRow("a row below the limit kept")
        << QStringList{} << QStringList{"F:A", "S:B", "F:C", "U:X", "F:D"} << 2 << 3 << 1
        << QStringList{"F:E"} << 0;
    QTest::newRow("a quarantine line ends the row")
        << QStringList{} << QStringList{"F:A", "F:B", "F:C", "D:"} << 0 << 3 << 0
        << QStringList{"F:D", "F:E", "F:G"} << 2;
    QTest::newRow("failures after a re-enable in the window")
        << QStringList{} << QStringList{"F:A", "F:B", "F:C", "D:", "F:D"} << 1 << 4 << 0
        << QStringList{"F:E", "F:G"} << 1;
    QTest::newRow("a row at the limit without its line")
        << QStringList{} << QStringList{"F:A", "F:B", "F:C"} << 0 << 3 << 0
        << QStringList{"F:D", "F:E", "F:G"} << 2;
    QTest::newRow("other sockets' lines and quarantine")
        << QStringList{"F:X@2"} << QStringList{"F:A", "F:B@2", "F:C@2", "F:D", "F:E@2", "D:@2"} << 2
        << 2 << 0 << QStringList{"F:G"} << 0;
}

void TestSocketHealth::restoredFromTheJournal()
{
    QFETCH(QStringList, yesterdays);
    QFETCH(QStringList, todays);
    QFETCH(int, failuresInRow);
    QFETCH(int, failed);
    QFETCH(int, succeeded);
    QFETCH(QStringList, next);
    QFETCH(int, disabledAt);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.csv"));
    writeLines(file, yesterday, yesterdays);
    writeLines(file, today, todays);

    Journal journal;
    journal.setClock([] { return today.addSecs(60); });
    QString error;
    QVERIFY(journal.open(file, &error));
    SocketHealth health(3);
    health.count(1, Result::Failure, QStringLiteral("before the restart")); // forgotten
    health.restore(journal.todaysRecords());
    for (int socket = 1; socket <= 3; ++socket)
        QVERIFY(!health.isDisabled(socket));
    QCOMPARE(health.today(1).failuresInRow, failuresInRow);
    QCOMPARE(health.today(1).failed, failed);
    QCOMPARE(health.today(1).succeeded, succeeded);
    feed(health, next, disabledAt);
}

QTEST_MAIN(TestSocketHealth)
#include "tst_sockethealth.moc"

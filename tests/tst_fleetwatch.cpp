// Two benches on one server and one table kept there, each with its own
// simulated modems: no row given twice, the duplicate found across benches,
// the floor's figures equal to the two journals, and a bench that waits for
// its rows while the server is away.
#include "fleet/fleetconnection.h"
#include "fleet/fleetdesk.h"
#include "fleet/fleetimport.h"
#include "line/journal.h"
#include "line/provisiontable.h"
#include "line/watchrun.h"
#include "modemsim.h"
#include "settings/settingsfile.h"
#include "socketbench.h"
#include "testtiming.h"
#include "throwawaypostgres.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using TestSupport::ThrowawayPostgres;

namespace {

constexpr int limitMs = 60000;

FleetTiming quickTiming()
{
    FleetTiming timing;
    timing.connectLimit = std::chrono::milliseconds(3000);
    timing.retry = std::chrono::milliseconds(100);
    return timing;
}

// A bench: its own modems, journal and watch on the shared server.
struct Bench
{
    Bench(const QString &name, const QString &folder, const QString &database)
        : modems(TestSupport::fastScale)
    {
        options.timing = TestSupport::fastTiming();
        options.fleetTiming = quickTiming();
        options.benchName = name;
        options.journalFile = folder + QStringLiteral("/journal.csv");
        options.database = database;
        options.provisionDb = QStringLiteral("заказ 7; 'A'");
        options.settingsFile = folder + QStringLiteral("/base.ini");
        writeLinesToFile(options.settingsFile, composeSettings({{"DEST_IP", "10.1.2.3"}}));
    }
    bool start(QString *error)
    {
        run = std::make_unique<WatchRun>(options, modems.lister());
        return run->start(error);
    }
    QStringList journalLines() const
    {
        QFile file(options.journalFile);
        file.open(QIODevice::ReadOnly);
        QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        lines.removeFirst();
        lines.removeAll(QString());
        return lines;
    }
    QStringList column(Journal::Column column) const
    {
        QStringList values;
        for (const QString &line : journalLines())
            values << Journal::splitLine(line).value(column);
        return values;
    }

    TestSupport::SocketBench modems;
    WatchOptions options;
    std::unique_ptr<WatchRun> run;
};

} // namespace

class TestFleetWatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void twoBenchesShareOneTableAndOneRecord();
    void aBenchWaitsForItsRowWhileTheServerIsAway();
    void withoutTheServerTheJournalFindsTheDuplicateAndSaysSo();

private:
    void importRows(int count);
    void finish(Bench &bench);

    std::unique_ptr<ThrowawayPostgres> mServer;
    std::unique_ptr<QTemporaryDir> mDir;
};

void TestFleetWatch::init()
{
    mServer = std::make_unique<ThrowawayPostgres>();
    QString error;
    if (!mServer->start(&error))
        QSKIP(qPrintable(error));
    mDir = std::make_unique<QTemporaryDir>();
    QDir(mDir->path()).mkdir(QStringLiteral("a"));
    QDir(mDir->path()).mkdir(QStringLiteral("b"));
}

void TestFleetWatch::cleanup()
{
    mServer.reset();
    mDir.reset();
}

void TestFleetWatch::importRows(int count)
{
    QByteArray csv = "\xEF\xBB\xBF"
                     "APN;PIN\r\n";
    for (int i = 0; i < count; ++i)
        csv += "apn" + QByteArray::number(i) + ".example;" + QByteArray::number(4000 + i) + "\r\n";
    ProvisionTable table;
    QString error;
    QVERIFY2(table.parse(csv, QStringLiteral("t.csv"), composeSettings({}), &error),
             qPrintable(error));
    FleetConnection connection(mServer->conninfo(), quickTiming());
    bool done = false;
    FleetImport::run(&connection, this, QStringLiteral("заказ 7; 'A'"), table, false,
                     [&](const FleetImport::Outcome &outcome) {
                         error = outcome.error;
                         done = true;
                     });
    QTRY_VERIFY_WITH_TIMEOUT(done, limitMs);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestFleetWatch::finish(Bench &bench)
{
    QSignalSpy finished(bench.run.get(), &WatchRun::signal_finished);
    bench.run->stopGracefully();
    QVERIFY(bench.run->finished() || finished.wait(limitMs));
}

void TestFleetWatch::twoBenchesShareOneTableAndOneRecord()
{
    importRows(5);
    Bench one(QStringLiteral("Стенд 1"), mDir->filePath("a"), mServer->conninfo());
    Bench two(QStringLiteral("Стенд 2"), mDir->filePath("b"), mServer->conninfo());
    QString error;
    QVERIFY2(one.start(&error), qPrintable(error));
    QVERIFY2(two.start(&error), qPrintable(error));
    QSignalSpy writtenOne(one.run.get(), &WatchRun::signal_recordWritten);
    QSignalSpy writtenTwo(two.run.get(), &WatchRun::signal_recordWritten);
    QSignalSpy duplicates(two.run.get(), &WatchRun::signal_duplicate);
    const QList<QByteArray> imeis{"490154203237518", "356938035643809", "352099001761481",
                                  "359881030314355"};
    for (int i = 0; i < 2; ++i) {
        one.modems.plug(one.modems.addModem(imeis.at(i)), QStringLiteral("1-1.%1").arg(i + 1));
        two.modems.plug(two.modems.addModem(imeis.at(i + 2)), QStringLiteral("1-1.%1").arg(i + 1));
    }
    QTRY_VERIFY_WITH_TIMEOUT(writtenOne.size() == 2 && writtenTwo.size() == 2, limitMs);
    // The first bench's modem in the second: its own row again, and the warning
    // names the bench it was prepared on, once its record is there.
    QTRY_COMPARE_WITH_TIMEOUT(one.run->fleetWaiting(), 0, limitMs);
    two.modems.plug(two.modems.addModem(imeis.at(0)), QStringLiteral("1-1.3"));
    QTRY_VERIFY_WITH_TIMEOUT(writtenTwo.size() == 3, limitMs);
    QCOMPARE(duplicates.size(), 1);
    QVERIFY2(duplicates.first().at(1).toString().startsWith(
                 QStringLiteral("Модем с IMEI 490154203237518 уже прошит: Стенд 1, ")),
             qPrintable(duplicates.first().at(1).toString()));
    finish(one);
    finish(two);

    const QStringList bound =
        mServer
            ->exec(QStringLiteral(
                "SELECT string_agg(row_no || ':' || bound_imei, ',' ORDER BY row_no) FROM "
                "lorta_table_row WHERE bound_imei IS NOT NULL"))
            .value(0);
    QCOMPARE(bound.value(0).split(QLatin1Char(',')).size(), 4); // four modems, four rows
    const QStringList rowsOne = one.column(Journal::ColumnTableRow);
    const QStringList rowsTwo = two.column(Journal::ColumnTableRow);
    const QStringList imeisOne = one.column(Journal::ColumnImei);
    // The same modem, its own row.
    QCOMPARE(rowsTwo.last(), rowsOne.at(imeisOne.indexOf(QString::fromLatin1(imeis.at(0)))));
    QSet<QString> distinct(rowsOne.begin(), rowsOne.end());
    distinct.unite(QSet<QString>(rowsTwo.begin(), rowsTwo.end()));
    QCOMPARE(distinct.size(), 4);

    // The floor's figures are the two journals' lines, each once.
    QStringList ids = one.column(Journal::ColumnRecordId) + two.column(Journal::ColumnRecordId);
    ids.sort();
    QStringList stored;
    for (const QStringList &row :
         mServer->exec(QStringLiteral("SELECT id::text FROM lorta_record ORDER BY id::text")))
        stored << row.value(0);
    QCOMPARE(stored, ids);
    QCOMPARE(mServer->execValue(QStringLiteral(
                 "SELECT string_agg(bench || '=' || s, ',' ORDER BY bench) FROM "
                 "(SELECT bench, sum(success) AS s FROM lorta_yield GROUP BY bench) y")),
             QStringLiteral("Стенд 1=%1,Стенд 2=%2")
                 .arg(one.column(Journal::ColumnResult).count(QStringLiteral("успех")))
                 .arg(two.column(Journal::ColumnResult).count(QStringLiteral("успех"))));
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT imei || ' ' || benches FROM "
                                               "lorta_prepared_twice")),
             QStringLiteral("490154203237518 2"));
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT left_rows FROM lorta_rows_left")),
             QStringLiteral("1"));
}

void TestFleetWatch::aBenchWaitsForItsRowWhileTheServerIsAway()
{
    importRows(2);
    Bench bench(QStringLiteral("Стенд 3"), mDir->filePath("a"), mServer->conninfo());
    QString error;
    QVERIFY2(bench.start(&error), qPrintable(error));
    QSignalSpy written(bench.run.get(), &WatchRun::signal_recordWritten);
    QTRY_VERIFY_WITH_TIMEOUT(bench.run->provisionLeft() == 2, limitMs);
    mServer->stop();
    ModemSim *modem = bench.modems.addModem("490154203237518");
    bench.modems.plug(modem, QStringLiteral("1-1.1"));
    QTRY_VERIFY_WITH_TIMEOUT(!bench.run->sockets().isEmpty() &&
                                 bench.run->sockets().first()->waitingText() ==
                                     FleetDesk::waitingText(),
                             limitMs);
    QCOMPARE(written.size(), 0); // nothing done to the modem meanwhile
    QVERIFY(!modem->commands().contains("at#wscript=\"main.pyo\""));
    QVERIFY2(mServer->start(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(written.size() == 1, limitMs);
    QCOMPARE(bench.column(Journal::ColumnResult), QStringList{QStringLiteral("успех")});
    QCOMPARE(bench.column(Journal::ColumnSettingsFile),
             QStringList{QStringLiteral("заказ 7; 'A'")});
    QVERIFY(modem->file("settings.ini").contains("apn0.example"));
    finish(bench);
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT count(*) FROM lorta_record")),
             QStringLiteral("1"));
}

void TestFleetWatch::withoutTheServerTheJournalFindsTheDuplicateAndSaysSo()
{
    Bench bench(QStringLiteral("Стенд 4"), mDir->filePath("a"),
                QStringLiteral("host=127.0.0.1 port=%1 dbname=lorta user=lorta")
                    .arg(mServer->port() == 1 ? 2 : 1));
    bench.options.provisionDb.clear();
    {
        // This bench flashed the modem earlier today.
        Journal journal;
        QString error;
        QVERIFY2(journal.open(bench.options.journalFile, &error), qPrintable(error));
        JournalRecord earlier;
        earlier.socket = 2;
        earlier.imei = QStringLiteral("490154203237518");
        earlier.job = QStringLiteral("flash");
        earlier.result = JournalRecord::Result::Success;
        QVERIFY2(journal.append(earlier, &error), qPrintable(error));
    }
    QString error;
    QVERIFY2(bench.start(&error), qPrintable(error));
    QSignalSpy duplicates(bench.run.get(), &WatchRun::signal_duplicate);
    QSignalSpy written(bench.run.get(), &WatchRun::signal_recordWritten);
    bench.modems.plug(bench.modems.addModem("490154203237518"), QStringLiteral("1-1.1"));
    QTRY_VERIFY_WITH_TIMEOUT(written.size() == 1, limitMs);
    QCOMPARE(duplicates.size(), 1);
    const QString warning = duplicates.first().at(1).toString();
    QVERIFY2(
        warning.startsWith(QStringLiteral("Модем с IMEI 490154203237518 уже прошит сегодня")) &&
            warning.endsWith(QStringLiteral("(база недоступна: проверено по журналу стенда)")),
        qPrintable(warning));
    // The bench went on with its journal, and says its records wait.
    QTRY_VERIFY_WITH_TIMEOUT(bench.run->fleetText().startsWith(
                                 QStringLiteral("База недоступна: 2 записей ждут отправки — "
                                                "сервер не принимает соединения")),
                             limitMs);
    finish(bench);
}

QTEST_MAIN(TestFleetWatch)
#include "tst_fleetwatch.moc"

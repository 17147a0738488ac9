// Provisioning tables kept on the floor's server, against a PostgreSQL of the
// test's own: loading a table file under a name, the rows handed out to the
// modems of two benches at once, the rows left as the records tell, and a
// server stopped and started again under a waiting modem.
#include "cli/provisionarguments.h"
#include "fleet/fleetconnection.h"
#include "fleet/fleetdesk.h"
#include "fleet/fleetimport.h"
#include "line/imeiparser.h"
#include "line/provisionbook.h"
#include "line/provisiontable.h"
#include "settings/settingsfile.h"
#include "throwawaypostgres.h"

#include <QBuffer>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {
constexpr int waitMs = 15000;

FleetTiming shortTiming()
{
    FleetTiming timing;
    timing.connectLimit = std::chrono::milliseconds(2000);
    timing.recordLimit = std::chrono::milliseconds(5000);
    timing.reserveLimit = std::chrono::milliseconds(2000);
    timing.retry = std::chrono::milliseconds(100);
    return timing;
}

// A valid IMEI from a number: fourteen digits and the check digit that fits.
QString imei(int number)
{
    const QByteArray body = QByteArray::number(35693803000000LL + number);
    for (char digit = '0'; digit <= '9'; ++digit) {
        if (ImeiParser::luhnValid(body + digit))
            return QString::fromLatin1(body + digit);
    }
    return QString();
}

QByteArray freeRows(int count)
{
    QByteArray bytes = "APN;PIN\r\n";
    for (int i = 0; i < count; ++i)
        bytes +=
            "apn" + QByteArray::number(i + 1) + ".example;" + QByteArray::number(1000 + i) + "\r\n";
    return bytes;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};
} // namespace

class TestFleetDesk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void importAddsTablesAndRefusesClashes();
    void importRefusesBadFilesAndArguments();
    void hostileCellsAreStoredAndGivenVerbatim();
    void rowsGoByImeiThenInOrder();
    void twoBenchesNeverShareARow();
    void rowsLeftFollowTheRecords();
    void openAndListNameTheServersTables();
    void modemWaitsOutAStoppedServer();
    void statementOverItsLimitIsCut();

private:
    Run import(const QString &name, const QByteArray &bytes, const QStringList &extra = {});
    std::unique_ptr<FleetDesk> desk(FleetConnection *connection, const QString &table,
                                    const QString &bench = QStringLiteral("bench-1"),
                                    int lowMark = 0);
    RowDesk::Grant reserve(RowDesk *desk, const QString &imei);
    void addSuccess(const QString &table, int row, const QString &imei);
    QString sql(const QString &statement) const { return mServer->execValue(statement); }

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TestSupport::ThrowawayPostgres> mServer;
    std::unique_ptr<FleetConnection> mConnection;
    QStringList mListBase;
    int mFileCount = 0;
};

void TestFleetDesk::initTestCase()
{
    mDir = std::make_unique<QTemporaryDir>();
    mServer = std::make_unique<TestSupport::ThrowawayPostgres>();
    QString error;
    if (!mServer->start(&error))
        QSKIP(qPrintable(error));
    mConnection = std::make_unique<FleetConnection>(mServer->conninfo(), shortTiming());
    mListBase = composeSettings({{"DEST_IP", "10.1.2.3"}});
}

Run TestFleetDesk::import(const QString &name, const QByteArray &bytes, const QStringList &extra)
{
    const QString path = mDir->filePath(QStringLiteral("table%1.csv").arg(++mFileCount));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return Run();
    file.close();
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Run run;
    run.exitCode = runProvision(
        QStringList{"import", path, "--name", name, "--db", mServer->conninfo()} + extra, &out,
        &err, shortTiming());
    run.out = QString::fromUtf8(out.data());
    run.err = QString::fromUtf8(err.data());
    return run;
}

std::unique_ptr<FleetDesk> TestFleetDesk::desk(FleetConnection *connection, const QString &table,
                                               const QString &bench, int lowMark)
{
    auto made = std::make_unique<FleetDesk>(connection, table, bench, mListBase, lowMark);
    auto error = std::make_shared<QString>(QStringLiteral("not answered"));
    made->open([error](const QString &answer) { *error = answer; });
    if (!QTest::qWaitFor([error] { return *error != QLatin1String("not answered"); }, waitMs) ||
        !error->isEmpty()) {
        qWarning("open: %s", qPrintable(*error));
        return nullptr;
    }
    return made;
}

RowDesk::Grant TestFleetDesk::reserve(RowDesk *desk, const QString &imei)
{
    RowDesk::Grant grant;
    bool answered = false;
    desk->request(imei, this, [&](const RowDesk::Grant &given) {
        grant = given;
        answered = given.waiting.isEmpty();
    });
    if (!QTest::qWaitFor([&answered] { return answered; }, waitMs))
        grant.refusal = QStringLiteral("no answer");
    return grant;
}

void TestFleetDesk::addSuccess(const QString &table, int row, const QString &imei)
{
    mServer->exec(QStringLiteral("INSERT INTO lorta_record (id, bench, written_at, day, socket, "
                                 "port, serial_number, imei, job, result, step, text, version, "
                                 "settings_file, table_row, settings_hash, file_hashes) VALUES "
                                 "(gen_random_uuid(), 'bench-1', now(), current_date, 1, 'p', "
                                 "'s', '%1', 'flash', 'успех', '', '', '1', '%2', %3, '', '')")
                      .arg(imei, table)
                      .arg(row));
}

void TestFleetDesk::importAddsTablesAndRefusesClashes()
{
    const QByteArray first = "IMEI;APN\r\n;apn1\r\n" + imei(1).toLatin1() + ";apn2\r\n;apn3\r\n";
    Run run = import("clash", first);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.trimmed(), FleetImport::loadedText("clash", 3));
    QCOMPARE(sql("SELECT string_agg(row_no || ':' || source_line || ':' || coalesce(imei, '-'), "
                 "' ' ORDER BY row_no) FROM lorta_table_row WHERE table_name = 'clash'"),
             QStringLiteral("1:2:- 2:3:%1 3:4:-").arg(imei(1)));

    run = import("clash", freeRows(1));
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(FleetImport::existsText("clash")), qPrintable(run.err));

    run = import("clash", "APN;IMEI\r\nextra1;" + imei(2).toLatin1() + "\r\nextra2;\r\n",
                 {"--append"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.trimmed(), FleetImport::loadedText("clash", 2));
    QCOMPARE(sql("SELECT string_agg(row_no || ':' || source_line || ':' || (cells->>'APN'), ' ' "
                 "ORDER BY row_no) FROM lorta_table_row WHERE table_name = 'clash' AND row_no > 3"),
             QStringLiteral("4:2:extra1 5:3:extra2"));

    // An IMEI of the table already, in a row of its own or given to a modem.
    run = import("clash", "APN;IMEI\r\nnew1;\r\nnew2;" + imei(1).toLatin1() + "\r\n", {"--append"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(imei(1)) && run.err.contains("строка 2"), qPrintable(run.err));
    std::unique_ptr<FleetDesk> bench = desk(mConnection.get(), "clash");
    QVERIFY(bench);
    QCOMPARE(reserve(bench.get(), imei(3)).row, 1);
    run = import("clash", "APN;IMEI\r\nnew3;" + imei(3).toLatin1() + "\r\n", {"--append"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(imei(3)), qPrintable(run.err));
    QCOMPARE(sql("SELECT count(*) FROM lorta_table_row WHERE table_name = 'clash'"), "5");
}

void TestFleetDesk::importRefusesBadFilesAndArguments()
{
    const QByteArray bad = "APN;COLOR\r\nx;red\r\n";
    const Run run = import("bad", bad);
    QCOMPARE(run.exitCode, 1);
    ProvisionTable table;
    QString expected;
    QVERIFY(!table.parse(bad, mDir->filePath(QStringLiteral("table%1.csv").arg(mFileCount)),
                         defaultSettings(), &expected));
    QCOMPARE(run.err.trimmed(), "lorta-flash-cli: " + expected);
    QCOMPARE(sql("SELECT count(*) FROM lorta_table WHERE name = 'bad'"), "0");

    const QList<QStringList> usage{
        {"import", "t.csv", "--db", "dbname=x"},
        {"export", "t.csv", "--name", "n", "--db", "dbname=x"},
        {"import", "t.csv", "--name", "n", "--db", "dbname=x password=secret"}};
    for (const QStringList &arguments : usage) {
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        QCOMPARE(runProvision(arguments, &sink, &sink, shortTiming()), 2);
    }
}

void TestFleetDesk::hostileCellsAreStoredAndGivenVerbatim()
{
    const QStringList hostile{"a'); DROP TABLE lorta_record; --", "back\\slash \"q\"",
                              "{\"json\": [1]}", "$1 $$ %s", "Точка доступа ✓"};
    QByteArray bytes = "APN;GPRS_USER\r\n";
    for (const QString &value : hostile)
        bytes += "\"" + value.toUtf8().replace("\"", "\"\"") + "\";u\r\n";
    QCOMPARE(import("hostile", bytes).exitCode, 0);
    for (int i = 0; i < hostile.size(); ++i)
        QCOMPARE(sql(QStringLiteral("SELECT cells->>'APN' FROM lorta_table_row WHERE table_name "
                                    "= 'hostile' AND row_no = %1")
                         .arg(i + 1)),
                 hostile.at(i));

    // The modem gets the bytes the file desk composes from the same file.
    ProvisionTable table;
    QVERIFY(table.parse(bytes, "hostile.csv", mListBase, nullptr));
    std::unique_ptr<FleetDesk> bench = desk(mConnection.get(), "hostile");
    QVERIFY(bench);
    for (int i = 0; i < hostile.size(); ++i) {
        const RowDesk::Grant grant = reserve(bench.get(), imei(100 + i));
        QCOMPARE(grant.row, i + 1);
        QCOMPARE(grant.settings.bytes, table.settingsFor(table.rows().at(i)));
    }
}

void TestFleetDesk::rowsGoByImeiThenInOrder()
{
    const QByteArray bytes = "IMEI;PIN\r\n;1001\r\n" + imei(11).toLatin1() + ";1002\r\n;1003\r\n";
    QCOMPARE(import("order", bytes).exitCode, 0);
    std::unique_ptr<FleetDesk> bench = desk(mConnection.get(), "order", "bench-7");
    QVERIFY(bench);
    QCOMPARE(reserve(bench.get(), imei(12)).row, 1);
    QCOMPARE(reserve(bench.get(), imei(11)).row, 2);
    QCOMPARE(reserve(bench.get(), imei(13)).row, 3);
    QCOMPARE(reserve(bench.get(), imei(12)).row, 1);
    QCOMPARE(reserve(bench.get(), imei(14)).refusal, ProvisionBook::exhaustedText());
    QCOMPARE(reserve(bench.get(), QString()).row, 0);
    QCOMPARE(sql("SELECT bound_bench || ' ' || bound_imei FROM lorta_table_row WHERE table_name "
                 "= 'order' AND row_no = 1"),
             "bench-7 " + imei(12));
    QCOMPARE(bench->pending(), 0);

    // A table of IMEIs only has nothing for a modem it does not name.
    QCOMPARE(import("imeis", "IMEI;PIN\r\n" + imei(15).toLatin1() + ";1\r\n").exitCode, 0);
    std::unique_ptr<FleetDesk> named = desk(mConnection.get(), "imeis");
    QVERIFY(named);
    QCOMPARE(reserve(named.get(), imei(16)).refusal, "нет строки в таблице для IMEI " + imei(16));
    QCOMPARE(reserve(named.get(), imei(15)).row, 1);
}

void TestFleetDesk::twoBenchesNeverShareARow()
{
    QCOMPARE(import("shared", freeRows(40)).exitCode, 0);
    FleetConnection second(mServer->conninfo(), shortTiming());
    std::unique_ptr<FleetDesk> benchA = desk(mConnection.get(), "shared", "A");
    std::unique_ptr<FleetDesk> benchB = desk(&second, "shared", "B");
    QVERIFY(benchA && benchB);
    QList<int> rows;
    int refused = 0;
    int answered = 0;
    for (int i = 0; i < 30; ++i) {
        for (FleetDesk *bench : {benchA.get(), benchB.get()}) {
            const QString modem = imei(bench == benchA.get() ? 200 + i : 300 + i);
            bench->request(modem, this, [&](const RowDesk::Grant &grant) {
                QVERIFY(grant.waiting.isEmpty());
                ++answered;
                if (grant.row > 0)
                    rows << grant.row;
                else if (grant.refusal == ProvisionBook::exhaustedText())
                    ++refused;
            });
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(answered, 60, waitMs);
    QCOMPARE(rows.size(), 40);
    QCOMPARE(QSet<int>(rows.cbegin(), rows.cend()).size(), 40);
    QCOMPARE(refused, 20);
    QTRY_COMPARE(benchA->left(), 0);
    QCOMPARE(benchA->leftText(),
             QStringLiteral("Строк таблицы осталось: 0 — ") + ProvisionBook::exhaustedText());
}

void TestFleetDesk::rowsLeftFollowTheRecords()
{
    const QByteArray bytes = "IMEI;PIN\r\n" + imei(21).toLatin1() + ";1\r\n" + imei(22).toLatin1() +
                             ";2\r\n;3\r\n;4\r\n";
    QCOMPARE(import("left", bytes).exitCode, 0);
    std::unique_ptr<FleetDesk> bench = desk(mConnection.get(), "left", "bench-1", 2);
    QVERIFY(bench);
    QSignalSpy exhausted(bench.get(), &RowDesk::signal_exhausted);
    QCOMPARE(bench->left(), 4);
    QVERIFY(!bench->low());

    // A free row is gone once given; a row of its own IMEI once its job succeeded.
    const RowDesk::Grant free = reserve(bench.get(), imei(23));
    QCOMPARE(free.row, 3);
    QCOMPARE(bench->left(), 3);
    QCOMPARE(reserve(bench.get(), imei(21)).row, 1);
    QCOMPARE(bench->left(), 3);
    bench->noteResult(1, imei(21), JournalRecord::Result::Failure);

    // Counted at once, before the record reaches the server, and once only after.
    bench->noteResult(1, imei(21), JournalRecord::Result::Success);
    QTRY_COMPARE(bench->left(), 2);
    QVERIFY(bench->low());
    QCOMPARE(bench->leftText(), "Строк таблицы осталось: 2 — заканчиваются");
    addSuccess("left", 1, imei(21));
    addSuccess("left", 2, imei(22));
    QCOMPARE(reserve(bench.get(), imei(24)).note, "Строк таблицы осталось: 1 — заканчиваются");
    QTRY_COMPARE(bench->left(), 0);
    QCOMPARE(exhausted.count(), 1);
    QVERIFY(exhausted.at(0).at(0).toString().contains("«left»"));
    QCOMPARE(sql("SELECT left_rows FROM lorta_rows_left WHERE table_name = 'left'"), "0");
}

void TestFleetDesk::openAndListNameTheServersTables()
{
    QCOMPARE(import("listed", freeRows(3)).exitCode, 0);
    addSuccess("listed", 1, imei(31));
    FleetDesk missing(mConnection.get(), "nowhere", "bench-1", mListBase, 0);
    QString error;
    missing.open([&error](const QString &answer) { error = answer.isEmpty() ? "ok" : answer; });
    QTRY_COMPARE(error, FleetDesk::missingText("nowhere"));

    QList<FleetDesk::TableInfo> tables;
    bool answered = false;
    FleetDesk::listTables(mConnection.get(), this,
                          [&](const QList<FleetDesk::TableInfo> &list, const QString &fault) {
                              QVERIFY2(fault.isEmpty(), qPrintable(fault));
                              tables = list;
                              answered = true;
                          });
    QTRY_VERIFY(answered);
    const auto listed =
        std::find_if(tables.cbegin(), tables.cend(),
                     [](const FleetDesk::TableInfo &t) { return t.name == "listed"; });
    QVERIFY(listed != tables.cend());
    QCOMPARE(listed->rows, 3);
    QCOMPARE(listed->left, 2);
}

void TestFleetDesk::modemWaitsOutAStoppedServer()
{
    QCOMPARE(import("outage", freeRows(2)).exitCode, 0);
    std::unique_ptr<FleetDesk> bench = desk(mConnection.get(), "outage");
    QVERIFY(bench);
    mServer->stop();

    QList<RowDesk::Grant> grants;
    bench->request(imei(41), this, [&grants](const RowDesk::Grant &grant) { grants << grant; });
    auto gone = std::make_unique<QObject>();
    bool goneAnswered = false;
    bench->request(imei(42), gone.get(), [&](const RowDesk::Grant &) { goneAnswered = true; });
    QTRY_COMPARE_WITH_TIMEOUT(grants.size(), 1, waitMs);
    QCOMPARE(grants.at(0).waiting, FleetDesk::waitingText());
    QCOMPARE(grants.at(0).row, 0);
    QCOMPARE(bench->pending(), 2);
    goneAnswered = false;
    gone.reset(); // its modem was unplugged while waiting
    QTRY_COMPARE_WITH_TIMEOUT(bench->pending(), 1, waitMs);

    // Several retries fail meanwhile, and the modem is told it waits only once.
    QSignalSpy lost(mConnection.get(), &FleetConnection::signal_lost);
    QTRY_VERIFY_WITH_TIMEOUT(lost.count() >= 3, waitMs);
    QCOMPARE(grants.size(), 1);
    QString error;
    QVERIFY2(mServer->start(&error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(grants.size(), 2, waitMs);
    QCOMPARE(grants.at(1).row, 1);
    QVERIFY(grants.at(1).waiting.isEmpty());
    QTRY_COMPARE(bench->pending(), 0);
    QVERIFY(!goneAnswered);
    QCOMPARE(sql("SELECT bound_imei FROM lorta_table_row WHERE table_name = 'outage' AND "
                 "bound_imei IS NOT NULL"),
             imei(41));
}

// The link's limit runs on the link's own thread: a statement the server sits
// on is given up, and the connection serves the next piece again.
void TestFleetDesk::statementOverItsLimitIsCut()
{
    PgLink::Answer answer;
    bool answered = false;
    mConnection->run(PgLink::Statement{"SELECT pg_sleep(30)", {}}, std::chrono::milliseconds(300),
                     this, [&](const PgLink::Answer &given) {
                         answer = given;
                         answered = true;
                     });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
    QVERIFY(!answer.ok);
    QVERIFY2(answer.error.contains("0.3"), qPrintable(answer.error));
    answered = false;
    mConnection->run(PgLink::Statement{"SELECT 1", {}}, std::chrono::milliseconds(2000), this,
                     [&](const PgLink::Answer &given) {
                         answer = given;
                         answered = true;
                     });
    QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
    QVERIFY(answer.ok);
}

QTEST_GUILESS_MAIN(TestFleetDesk)
#include "tst_fleetdesk.moc"

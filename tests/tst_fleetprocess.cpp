// Two watches as processes of their own on one server and one table kept
// there, each with its own simulated modems on pseudo-terminals: every modem
// prepared its own row, a modem of the first bench seen on the second said so
// with the first bench's name and time, and the server's figures those of the
// two journals. The table goes in, and the figures come out, by the flasher
// itself.
#include "line/journalreader.h"
#include "modemsim.h"
#include "settings/settingsfile.h"
#include "socketbench.h"
#include "testtiming.h"
#include "throwawaypostgres.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <libpq-fe.h>
#include <memory>

using TestSupport::ThrowawayPostgres;

namespace {

constexpr int limitMs = 60000;
// Quotes and a separator in the name: it reaches the server through two
// processes' arguments as it is.
const QString tableName = QStringLiteral("заказ 7; 'A'");
const QString nameA = QStringLiteral("Стенд A");
const QString nameB = QStringLiteral("Стенд B");

QString result(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

// A session of the test's own that holds one row of the table locked, as a
// bench holds the row it is giving away that moment: the benches' reservations
// all meet there at once, instead of only when they happen to coincide.
class HeldRow
{
public:
    HeldRow(const QString &conninfo, int row)
        : mConnection(PQconnectdb(conninfo.toUtf8().constData()))
    {
        const QByteArray name = tableName.toUtf8();
        const QByteArray number = QByteArray::number(row);
        const char *values[] = {name.constData(), number.constData()};
        mHeld = run("BEGIN") &&
                finished(PQexecParams(mConnection,
                                      "SELECT 1 FROM lorta_table_row WHERE table_name = $1 "
                                      "AND row_no = $2::integer FOR UPDATE",
                                      2, nullptr, values, nullptr, nullptr, 0),
                         PGRES_TUPLES_OK);
    }
    ~HeldRow() { PQfinish(mConnection); }
    HeldRow(const HeldRow &) = delete;
    HeldRow &operator=(const HeldRow &) = delete;

    bool held() const { return mHeld; }
    QString error() const { return QString::fromUtf8(PQerrorMessage(mConnection)); }
    bool release() { return run("COMMIT"); }

private:
    bool run(const char *sql) { return finished(PQexec(mConnection, sql), PGRES_COMMAND_OK); }
    static bool finished(PGresult *result, ExecStatusType wanted)
    {
        const bool ok = PQresultStatus(result) == wanted;
        PQclear(result);
        return ok;
    }

    PGconn *mConnection;
    bool mHeld = false;
};

// A bench: its folder (journal, settings, the port list its watch reads), its
// modems and its watch process.
class BenchProcess
{
public:
    BenchProcess(const QString &name, const QString &folder)
        : mName(name), mFolder(folder), mModems(TestSupport::fastScale)
    {
        QDir().mkpath(folder);
        writeLinesToFile(path("base.ini"), composeSettings({{"DEST_IP", "10.1.2.3"}}));
    }
    ~BenchProcess()
    {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.kill();
            mProcess.waitForFinished(5000);
        }
    }

    QString path(const char *name) const { return mFolder + QLatin1Char('/') + name; }
    const QString &name() const { return mName; }
    QProcess &process() { return mProcess; }

    // A new modem at the USB position; the whole list is replaced at once, so
    // the watch never reads half of it.
    ModemSim *plug(const QByteArray &imei, const QString &location)
    {
        ModemSim *sim = mModems.addModem(imei);
        mSimByImei.insert(imei, sim);
        mPortList += sim->portName().toUtf8() + '\t' + location.toUtf8() + '\n';
        QSaveFile file(path("ports.txt"));
        if (!file.open(QIODevice::WriteOnly) || file.write(mPortList) != mPortList.size() ||
            !file.commit())
            qFatal("the port list was not written");
        return sim;
    }
    ModemSim *sim(const QString &imei) const { return mSimByImei.value(imei.toLatin1()); }

    void start(const QString &conninfo, int count)
    {
        mProcess.setWorkingDirectory(mFolder);
        mProcess.start(QStringLiteral(LORTA_WATCH_HOST),
                       {path("ports.txt"), "watch", "flash", "--match", "0403:6001",
                        "--include-present", "--json", "--count", QString::number(count), "--bench",
                        mName, "--settings", path("base.ini"), "--journal", path("journal.csv"),
                        "--db", conninfo, "--provision-db", tableName});
    }
    bool finished() const { return mProcess.state() == QProcess::NotRunning; }
    void collect()
    {
        mOut += mProcess.readAllStandardOutput();
        mErr += QString::fromUtf8(mProcess.readAllStandardError());
    }
    QString err() const { return mErr; }
    // The JSON stream's objects of one kind, in order.
    QList<QJsonObject> events(const QString &kind) const
    {
        QList<QJsonObject> found;
        for (const QByteArray &line : mOut.split('\n')) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (result(object, "event") == kind)
                found << object;
        }
        return found;
    }
    QList<JournalReader::Row> journal() const
    {
        JournalReader reader;
        QString error;
        if (!reader.read(path("journal.csv"), &error))
            qWarning("%s", qPrintable(error));
        return reader.rows();
    }

private:
    QString mName;
    QString mFolder;
    TestSupport::SocketBench mModems;
    QHash<QByteArray, ModemSim *> mSimByImei;
    QByteArray mPortList;
    QProcess mProcess;
    QByteArray mOut;
    QString mErr;
};

} // namespace

class TestFleetProcess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void twoWatchProcessesShareOneTableAndOneRecord();

private:
    // The flasher itself, to its end; whether it succeeded, and its standard output.
    bool runCli(const QStringList &arguments, QByteArray *out = nullptr);
    void waitFinished(BenchProcess &bench);

    std::unique_ptr<ThrowawayPostgres> mServer;
    std::unique_ptr<QTemporaryDir> mDir;
};

void TestFleetProcess::init()
{
    mServer = std::make_unique<ThrowawayPostgres>();
    QString error;
    if (!mServer->start(&error))
        QSKIP(qPrintable(error));
    mDir = std::make_unique<QTemporaryDir>();
}

void TestFleetProcess::cleanup()
{
    mServer.reset();
    mDir.reset();
}

bool TestFleetProcess::runCli(const QStringList &arguments, QByteArray *out)
{
    QProcess cli;
    cli.setWorkingDirectory(mDir->path());
    cli.start(QStringLiteral(LORTA_CLI), arguments);
    const bool ended = cli.waitForFinished(limitMs);
    const QByteArray err = cli.readAllStandardError();
    if (!ended || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
        qWarning("lorta-flash-cli %s: exit %d\n%s", qPrintable(arguments.join(' ')), cli.exitCode(),
                 err.constData());
        return false;
    }
    if (out)
        *out = cli.readAllStandardOutput();
    return true;
}

void TestFleetProcess::waitFinished(BenchProcess &bench)
{
    const bool ended = QTest::qWaitFor([&] { return bench.finished(); }, limitMs);
    bench.collect();
    QVERIFY2(ended, qPrintable(bench.name() + QStringLiteral(" did not end:\n") + bench.err()));
    QCOMPARE(bench.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(bench.process().exitCode() == 0, qPrintable(bench.err()));
    const QList<QJsonObject> summary = bench.events(QStringLiteral("summary"));
    QCOMPARE(summary.size(), 1);
    QCOMPARE(summary.first().value(QLatin1String("records-waiting")).toInt(), 0);
}

void TestFleetProcess::twoWatchProcessesShareOneTableAndOneRecord()
{
    QByteArray table = "\xEF\xBB\xBF"
                       "APN;PIN\r\n";
    for (int i = 1; i <= 5; ++i)
        table +=
            "apn-r" + QByteArray::number(i) + ".example;" + QByteArray::number(4000 + i) + "\r\n";
    const QString tableFile = mDir->filePath(QStringLiteral("table.csv"));
    {
        QFile file(tableFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(table), qint64(table.size()));
    }
    const QString conninfo = mServer->conninfo();
    QVERIFY(runCli({"provision", "import", tableFile, "--name", tableName, "--db", conninfo}));

    // Both benches start at once with their two modems each: four rows asked
    // for by two processes over two connections, while the first row is
    // being given elsewhere. It is let go once the four have their rows, or
    // once the benches wait for it (a reservation that does not skip a row
    // taken meanwhile): then they take it both at once.
    HeldRow held(conninfo, 1);
    QVERIFY2(held.held(), qPrintable(held.error()));
    BenchProcess a(nameA, mDir->filePath(QStringLiteral("a")));
    BenchProcess b(nameB, mDir->filePath(QStringLiteral("b")));
    const QByteArray twice = "490154203237518";
    const QString twiceImei = QString::fromLatin1(twice);
    a.plug(twice, QStringLiteral("1-1.1"));
    a.plug("356938035643809", QStringLiteral("1-1.2"));
    b.plug("352099001761481", QStringLiteral("1-1.1"));
    b.plug("359881030314355", QStringLiteral("1-1.2"));
    a.start(conninfo, 2);
    b.start(conninfo, 3);
    QVERIFY(a.process().waitForStarted());
    QVERIFY(b.process().waitForStarted());
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     return mServer->execValue(QStringLiteral(
                                "SELECT count(bound_imei) = 4 OR (SELECT count(*) >= 2 "
                                "FROM pg_stat_activity WHERE wait_event_type = 'Lock') FROM "
                                "lorta_table_row")) == QLatin1String("t");
                 },
                 limitMs),
             "the benches neither got their rows nor waited for the held one");
    QVERIFY2(held.release(), qPrintable(held.error()));

    // The first bench ends with its records on the server; then its first
    // modem comes to the second bench.
    waitFinished(a);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT count(*) FROM lorta_record WHERE bench = "
                                               "'Стенд A' AND result = 'успех'")),
             QStringLiteral("2"));
    ModemSim *again = b.plug(twice, QStringLiteral("1-1.3"));
    waitFinished(b);
    if (QTest::currentTestFailed())
        return;

    const QList<JournalReader::Row> rowsA = a.journal();
    const QList<JournalReader::Row> rowsB = b.journal();
    QCOMPARE(rowsA.size(), 2);
    QCOMPARE(rowsB.size(), 3);
    for (const JournalReader::Row &row : rowsA + rowsB)
        QVERIFY2(row.result == QStringLiteral("успех"), qPrintable(row.imei + ' ' + row.text));

    // 1. Every modem its own row, the same modem its row again; each row bound
    // on the server to the modem prepared with it, by the bench that took it
    // first, and the settings the modem holds are that row's.
    QMap<int, QString> imeiOfRow;
    for (const JournalReader::Row &row : rowsA + rowsB) {
        QVERIFY(row.tableRow.has_value());
        const QString earlier = imeiOfRow.value(*row.tableRow);
        QVERIFY2(
            earlier.isEmpty() || earlier == row.imei,
            qPrintable(
                QStringLiteral("row %1: %2 and %3").arg(*row.tableRow).arg(earlier, row.imei)));
        imeiOfRow.insert(*row.tableRow, row.imei);
    }
    QCOMPARE(imeiOfRow.size(), 4);
    QCOMPARE(imeiOfRow.keys(),
             (QList<int>{2, 3, 4, 5})); // the free rows in order, past the held one
    QList<QStringList> bound = mServer->exec(
        QStringLiteral("SELECT row_no, bound_imei, bound_bench, cells->>'APN', cells->>'PIN' FROM "
                       "lorta_table_row WHERE bound_imei IS NOT NULL ORDER BY row_no"));
    QCOMPARE(bound.size(), 4);
    for (const QStringList &row : bound) {
        const int number = row.value(0).toInt();
        QCOMPARE(row.value(1), imeiOfRow.value(number));
        const bool onA = std::any_of(rowsA.cbegin(), rowsA.cend(),
                                     [&](const auto &line) { return line.imei == row.value(1); });
        QCOMPARE(row.value(2), onA ? nameA : nameB);
        const BenchProcess &holder = onA ? a : b;
        const ModemSim *sim = holder.sim(row.value(1));
        QVERIFY2(sim, qPrintable(row.value(1)));
        const QByteArray settings = sim->file("settings.ini");
        QVERIFY2(settings.contains(row.value(3).toUtf8()) &&
                     settings.contains(row.value(4).toUtf8()),
                 settings.constData());
    }
    QVERIFY(again->file("settings.ini")
                .contains("apn-r" + QByteArray::number(imeiOfRow.key(twiceImei)) + "."));
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT count(*) FROM lorta_record WHERE result = "
                                               "'успех' GROUP BY table_row HAVING count(DISTINCT "
                                               "imei) > 1")),
             QString());
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT left_rows FROM lorta_rows_left")),
             QStringLiteral("1"));

    // 2. The second bench said the modem was prepared on the first, with that
    // record's time, on the socket it came to; no other modem was said to be.
    const QList<QJsonObject> endedB = b.events(QStringLiteral("job-ended"));
    QCOMPARE(endedB.size(), 3);
    const auto againEnded = std::find_if(endedB.cbegin(), endedB.cend(), [&](const auto &ended) {
        return result(ended, "imei") == twiceImei;
    });
    QVERIFY(againEnded != endedB.cend());
    const JournalReader::Row &first = rowsA.at(rowsA.first().imei == twiceImei ? 0 : 1);
    QCOMPARE(first.imei, twiceImei);
    const QString warning = QStringLiteral("гнездо %1 %2 | Модем с IMEI %3 уже прошит: %4, %5")
                                .arg(againEnded->value(QLatin1String("socket")).toInt())
                                .arg(result(*againEnded, "port"), twiceImei, nameA,
                                     first.time.toString(QStringLiteral("dd.MM hh:mm")));
    QStringList said;
    for (const QString &line : b.err().split(QLatin1Char('\n'))) {
        if (line.contains(QStringLiteral("уже прошит")))
            said << line;
    }
    QCOMPARE(said, QStringList{warning});
    QVERIFY2(!a.err().contains(QStringLiteral("уже прошит")), qPrintable(a.err()));

    // 3. The server holds the two journals' records, each once, and its
    // figures, as the flasher reports them, are the journals' own.
    QStringList ids;
    for (const JournalReader::Row &row : rowsA + rowsB)
        ids << row.recordId;
    ids.sort();
    QStringList stored;
    for (const QStringList &row :
         mServer->exec(QStringLiteral("SELECT id::text FROM lorta_record ORDER BY id::text")))
        stored << row.value(0);
    QCOMPARE(stored, ids);
    QStringList streamed;
    for (const QJsonObject &ended : a.events(QStringLiteral("job-ended")) + endedB)
        streamed << result(ended, "record");
    streamed.sort();
    QCOMPARE(streamed, ids);

    // By day and bench, and by socket within: what `report --db --json` says.
    QMap<QString, QJsonObject> fromJournals;
    for (const JournalReader::Row &row : rowsA + rowsB) {
        const QString key = row.time.date().toString(Qt::ISODate) + QLatin1Char('|') + row.bench;
        QJsonObject day = fromJournals.value(key);
        const bool success = row.result == QStringLiteral("успех");
        const bool failed = !success && row.result != QStringLiteral("уже прошит") &&
                            row.result != QStringLiteral("гнездо отключено");
        day.insert("day", row.time.date().toString(Qt::ISODate));
        day.insert("bench", row.bench);
        day.insert("success", day.value("success").toInt() + int(success));
        day.insert("failed", day.value("failed").toInt() + int(failed));
        QJsonObject sockets = day.value("sockets").toObject();
        const QString socket = QString::number(row.socket.value_or(0));
        QJsonObject counts = sockets.value(socket).toObject();
        counts.insert("success", counts.value("success").toInt() + int(success));
        counts.insert("failed", counts.value("failed").toInt() + int(failed));
        sockets.insert(socket, counts);
        day.insert("sockets", sockets);
        fromJournals.insert(key, day);
    }
    QByteArray report;
    QVERIFY(runCli({"report", "--db", conninfo, "--json"}, &report));
    QList<QJsonObject> reported;
    for (const QByteArray &line : report.split('\n')) {
        if (!line.isEmpty())
            reported << QJsonDocument::fromJson(line).object();
    }
    QCOMPARE(reported, fromJournals.values());
    QCOMPARE(mServer->execValue(QStringLiteral("SELECT sum(already_flashed) FROM lorta_yield")),
             QStringLiteral("0"));
    QCOMPARE(mServer->execValue(
                 QStringLiteral("SELECT imei || ' ' || successes || ' ' || bench_names FROM "
                                "lorta_prepared_twice")),
             twiceImei + QStringLiteral(" 2 ") + nameA + QStringLiteral(", ") + nameB);
}

QTEST_MAIN(TestFleetProcess)
#include "tst_fleetprocess.moc"

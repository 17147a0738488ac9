// Each modem its own settings from a provisioning table: the hand-out by IMEI
// and in order, the used-rows file read back after a restart, and the watch
// and the flasher end to end on simulated modems, with what never leaves the
// table checked in every output.
#include "cli/clirunner.h"
#include "cli/watchconsole.h"
#include "line/journal.h"
#include "line/provisionbook.h"
#include "line/provisiontable.h"
#include "line/usedrows.h"
#include "modemsim.h"
#include "settings/settingsfile.h"
#include "socketbench.h"
#include "testtiming.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <functional>
#include <memory>

using TestSupport::fastMs;

namespace {
const QByteArray imeiA = "490154203237518";
const QByteArray imeiB = "356938035643809";
const QByteArray imeiC = "352099001761481";
constexpr int watchLimitMs = 60000;

// Values long enough that none turns up in an output by chance.
const QStringList secrets{"apn.alpha.example", "userAlpha7731", "Pw-Sekret-A1x",
                          "apn.beta.example",  "userBeta8842",  "Pw-Sekret-B2y",
                          "apn.gamma.example", "userGamma9953", "Pw-Sekret-C3z"};

QByteArray threeRows(const QByteArray &firstImei)
{
    return "\xEF\xBB\xBFIMEI;APN;GPRS_USER;GPRS_PASSWD;PIN\r\n" + firstImei +
           ";apn.alpha.example;userAlpha7731;Pw-Sekret-A1x;5831\r\n"
           ";apn.beta.example;userBeta8842;Pw-Sekret-B2y;6942\r\n"
           ";apn.gamma.example;userGamma9953;\"Pw-Sekret-C3z\";7053\r\n";
}

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QList<ProvisionTable::Row> rows(const QStringList &imeis)
{
    QList<ProvisionTable::Row> list;
    for (int i = 0; i < imeis.size(); ++i)
        list.append(ProvisionTable::Row{i + 2, imeis.at(i), {{"PIN", QString::number(1000 + i)}}});
    return list;
}
} // namespace

Q_DECLARE_METATYPE(UsedRows::Entry)

class TestProvision : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rowsGoByImeiThenInOrder();
    void restoredRowsFitTheTableOrRefuseIt_data();
    void restoredRowsFitTheTableOrRefuseIt();
    void usedRowsSurviveARestartAndATornLine();
    void watchGivesEachModemItsOwnRow();
    void restartGivesAFailedModemItsRowBack();
    void modemWithoutARowGetsNoJob_data();
    void modemWithoutARowGetsNoJob();
    void tableRunningLowAndTooFewRowsForTheCount();
    void refusedTableTouchesNoModem();
    void flasherAsksEachPortsImeiFirst();

private:
    QString file(const QString &name) const { return mDir->filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    // The watch until it ends; each step is tried every few ms until it returns true.
    Run watch(const QStringList &arguments, QList<std::function<bool()>> steps = {});
    int journalLineCount() const { return read("journal.csv").count('\n') - 1; }
    std::function<bool()> interruptAfterLines(int lines);
    // The bytes the settings dialog would write for this row over the base file.
    QByteArray rowSettings(const QByteArray &table, int line) const;
    void verifyNoSecret(const QByteArray &output, const char *where) const;

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TestSupport::SocketBench> mBench;
};

void TestProvision::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    mBench = std::make_unique<TestSupport::SocketBench>(TestSupport::fastScale);
    QVERIFY(writeLinesToFile(file("base.ini"), composeSettings({{"DEST_IP", "10.1.2.3"}})));
}

void TestProvision::cleanup()
{
    mBench.reset();
    mDir.reset();
}

void TestProvision::write(const QString &name, const QByteArray &bytes) const
{
    QFile out(file(name));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
}

QByteArray TestProvision::read(const QString &name) const
{
    QFile in(file(name));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

Run TestProvision::watch(const QStringList &arguments, QList<std::function<bool()>> steps)
{
    QTimer poll;
    poll.setInterval(fastMs(100));
    connect(&poll, &QTimer::timeout, this, [&steps] {
        if (!steps.isEmpty() && steps.first()())
            steps.removeFirst();
    });
    poll.start();
    QTimer guard; // a watch that never ends fails the case with what it said
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] {
        ::raise(SIGINT);
        ::raise(SIGINT);
    });
    guard.start(watchLimitMs);
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Run run;
    run.exitCode = runWatch(arguments + QStringList{"--journal", file("journal.csv"), "--settings",
                                                    file("base.ini"), "--json"},
                            &out, &err, false, TestSupport::fastTiming(), mBench->lister());
    run.out = out.data();
    run.err = err.data();
    return run;
}

std::function<bool()> TestProvision::interruptAfterLines(int lines)
{
    return [this, lines] {
        if (journalLineCount() < lines)
            return false;
        ::raise(SIGINT);
        return true;
    };
}

QByteArray TestProvision::rowSettings(const QByteArray &table, int line) const
{
    write("check.csv", table);
    ProvisionTable parsed;
    QString error;
    if (!parsed.load(file("check.csv"), readSettingsLines(file("base.ini")), &error))
        return error.toUtf8();
    for (const ProvisionTable::Row &row : parsed.rows()) {
        if (row.line == line)
            return parsed.settingsFor(row);
    }
    return QByteArray();
}

void TestProvision::verifyNoSecret(const QByteArray &output, const char *where) const
{
    for (const QString &secret : secrets)
        QVERIFY2(!output.contains(secret.toUtf8()), qPrintable(secret + " in " + where));
}

// A modem with its IMEI in the table gets that row, others the free rows top
// to bottom, each bound to its IMEI for good; the rows left count only what a
// new modem could still get.
void TestProvision::rowsGoByImeiThenInOrder()
{
    ProvisionBook book(rows({QString(), QString::fromLatin1(imeiA), QString()}));
    QCOMPARE(book.left(), 3);
    QCOMPARE(book.choose(QString::fromLatin1(imeiA)).index, 1);
    QVERIFY(!book.choose(QString::fromLatin1(imeiA)).binding);
    const ProvisionBook::Choice b = book.choose(QString::fromLatin1(imeiB));
    QCOMPARE(b.index, 0);
    QVERIFY(b.binding);
    book.bind(b.index, QString::fromLatin1(imeiB));
    QCOMPARE(book.left(), 2); // bound, not yet used: no new modem gets it
    QCOMPARE(book.choose(QString::fromLatin1(imeiB)).index, 0); // its own row back
    QVERIFY(!book.choose(QString::fromLatin1(imeiB)).binding);
    QCOMPARE(book.choose(QString::fromLatin1(imeiC)).index, 2);
    book.bind(2, QString::fromLatin1(imeiC));
    book.noteResult(1, true);
    QCOMPARE(book.left(), 0);
    QCOMPARE(book.choose("353456789012347").refusal, ProvisionBook::exhaustedText());
    QCOMPARE(book.choose(QString()).refusal,
             QStringLiteral("IMEI не прочитан: таблица требует IMEI"));
    QCOMPARE(book.choose(QString::fromLatin1(imeiC)).index, 2); // a failed modem keeps its row

    ProvisionBook byImeiOnly(rows({QString::fromLatin1(imeiA)}));
    QCOMPARE(byImeiOnly.choose(QString::fromLatin1(imeiB)).refusal,
             QStringLiteral("нет строки в таблице для IMEI ") + QString::fromLatin1(imeiB));
}

void TestProvision::restoredRowsFitTheTableOrRefuseIt_data()
{
    QTest::addColumn<QList<UsedRows::Entry>>("entries");
    QTest::addColumn<int>("left");
    QTest::addColumn<QString>("refusal");
    const QString a = QString::fromLatin1(imeiA);
    const QString b = QString::fromLatin1(imeiB);
    const QString c = QString::fromLatin1(imeiC);
    const QString given = UsedRows::given();
    QTest::newRow("bound and used")
        << QList<UsedRows::Entry>{{2, b, {}, given}, {2, b, {}, "успех"}, {4, a, {}, given}} << 1
        << QString();
    // The table's own IMEI's row counts as left until its modem succeeded.
    QTest::newRow("own row used") << QList<UsedRows::Entry>{{3, c, {}, given}, {3, c, {}, "успех"}}
                                  << 2 << QString();
    QTest::newRow("own row failed")
        << QList<UsedRows::Entry>{{3, c, {}, given}, {3, c, {}, "ошибка"}} << 3 << QString();
    QTest::newRow("failed keeps it bound")
        << QList<UsedRows::Entry>{{2, b, {}, given}, {2, b, {}, "ошибка"}} << 2 << QString();
    QTest::newRow("row gone from the table")
        << QList<UsedRows::Entry>{{9, b, {}, given}} << 0 << QStringLiteral("нет в таблице");
    QTest::newRow("row given to another modem")
        << QList<UsedRows::Entry>{{2, b, {}, given}, {2, a, {}, given}} << 0
        << QStringLiteral("заняты иначе");
    QTest::newRow("row of the table's own IMEI given to another")
        << QList<UsedRows::Entry>{{3, b, {}, given}} << 0 << QStringLiteral("заняты иначе");
    QTest::newRow("one modem on two rows")
        << QList<UsedRows::Entry>{{2, b, {}, given}, {4, b, {}, given}} << 0
        << QStringLiteral("заняты иначе");
}

// A used-rows file that does not fit the table means the table was edited
// after rows were given: the run is refused rather than a row given twice.
void TestProvision::restoredRowsFitTheTableOrRefuseIt()
{
    QFETCH(QList<UsedRows::Entry>, entries);
    QFETCH(int, left);
    QFETCH(QString, refusal);
    ProvisionBook book(rows({QString(), QString::fromLatin1(imeiC), QString()}));
    QString error;
    QCOMPARE(book.restore(entries, "t.csv.used", &error), refusal.isEmpty());
    QVERIFY2(error.contains(refusal), qPrintable(error));
    if (refusal.isEmpty()) {
        QCOMPARE(book.left(), left);
        return;
    }
    // The refusal names the entry that does not fit and what to do.
    const UsedRows::Entry &last = entries.last();
    QVERIFY2(
        error.startsWith(QStringLiteral("Строка %1 выдана модему %2").arg(last.row).arg(last.imei)),
        qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral(": таблицу изменили после того, как строки были выданы. "
                                           "Верните прежнюю таблицу или начните новую вместе с "
                                           "новым файлом t.csv.used")),
             qPrintable(error));
}

// The file reads back what was written; a line torn by a power cut is cut
// off; a second writer on the same file is refused.
void TestProvision::usedRowsSurviveARestartAndATornLine()
{
    const QString name = file("t.csv.used");
    QList<UsedRows::Entry> entries;
    QString error;
    {
        UsedRows used;
        QVERIFY2(used.open(name, &entries, &error), qPrintable(error));
        QVERIFY(entries.isEmpty());
        const QDateTime time(QDate(2026, 12, 9), QTime(14, 2, 5));
        QString reason;
        QVERIFY(used.writeLine(UsedRows::line({5, QString::fromLatin1(imeiA), time, "выдана"}),
                               &reason));
        UsedRows second;
        QList<UsedRows::Entry> ignored;
        QVERIFY(!second.open(name, &ignored, &error));
        QVERIFY2(error.contains("другой стенд"), qPrintable(error));
    }
    QVERIFY(read("t.csv.used").startsWith("\xEF\xBB\xBFСтрока;IMEI;Время;Результат\r\n"));
    QFile torn(name);
    QVERIFY(torn.open(QIODevice::Append) && torn.write("6;3569380") > 0);
    torn.close();
    UsedRows again;
    QVERIFY2(again.open(name, &entries, &error), qPrintable(error));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first().row, 5);
    QCOMPARE(entries.first().imei, QString::fromLatin1(imeiA));
    QCOMPARE(entries.first().time.time(), QTime(14, 2, 5));
    QVERIFY(read("t.csv.used").endsWith("выдана\r\n"));
}

// Three modems, one named in the table: each ends with its own row's settings
// byte for byte, written before the scripts in place of the one it held; the
// rows' use is on the disk, and no value of the table is in any output.
void TestProvision::watchGivesEachModemItsOwnRow()
{
    const QByteArray table = threeRows(imeiC);
    write("t.csv", table);
    ModemSim *a = mBench->addModem(imeiA);
    ModemSim *b = mBench->addModem(imeiB);
    ModemSim *c = mBench->addModem(imeiC);
    const Run run = watch({"flash", "--count", "3", "--provision", file("t.csv")},
                          {[&] {
                               mBench->plug(a, "1-1.1");
                               return true;
                           },
                           [&] {
                               if (!read("t.csv.used").contains(imeiA))
                                   return false;
                               mBench->plug(b, "1-1.2");
                               mBench->plug(c, "1-1.3");
                               return true;
                           }});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(a->file("settings.ini"), rowSettings(table, 3));
    QCOMPARE(b->file("settings.ini"), rowSettings(table, 4));
    QCOMPARE(c->file("settings.ini"), rowSettings(table, 2));
    QCOMPARE(a->files().first().first, QByteArray("settings.ini"));
    QVERIFY(a->commands().contains("at#dscript=\"settings.ini\""));
    const QByteArray used = read("t.csv.used");
    for (const QByteArray &line : {";" + imeiA + ";", ";" + imeiB + ";", ";" + imeiC + ";"})
        QCOMPARE(used.count(line), 2); // given before the job, then its success
    QVERIFY(used.contains("3;" + imeiA) && used.contains("успех"));
    int withRow = 0;
    int rowsLeft = -1;
    for (const QByteArray &line : run.out.split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("event") == QLatin1String("job-ended"))
            withRow += event.value("tableRow").toInt() > 1 ? 1 : 0;
        if (event.value("event") == QLatin1String("summary"))
            rowsLeft = event.value("table-rows-left").toInt(-1);
    }
    QCOMPARE(withRow, 3);
    QCOMPARE(rowsLeft, 0);
    verifyNoSecret(run.out, "stdout");
    verifyNoSecret(run.err, "stderr");
    verifyNoSecret(read("journal.csv"), "the journal");
    verifyNoSecret(used, "the used rows");
}

// A modem whose job failed keeps its row; a restart reads the rows back, so
// the same modem gets it again and the next one the next row, never a row twice.
void TestProvision::restartGivesAFailedModemItsRowBack()
{
    const QByteArray table = threeRows("352099001761481");
    write("t.csv", table);
    ModemSim *failing = mBench->addModem(imeiB);
    failing->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Error));
    const Run first =
        watch({"flash", "--provision", file("t.csv")}, {[&] {
                                                            mBench->plug(failing, "1-1.1");
                                                            return true;
                                                        },
                                                        interruptAfterLines(1)});
    QVERIFY2(read("journal.csv").contains("ошибка"), first.err.constData());
    mBench.reset();
    mBench = std::make_unique<TestSupport::SocketBench>(TestSupport::fastScale);
    ModemSim *again = mBench->addModem(imeiB);
    ModemSim *next = mBench->addModem(imeiA);
    const Run second = watch({"flash", "--count", "2", "--provision", file("t.csv")}, {[&] {
                                 mBench->plug(again, "1-1.1");
                                 mBench->plug(next, "1-1.2");
                                 return true;
                             }});
    QVERIFY2(second.exitCode == 0, second.err.constData());
    QCOMPARE(again->file("settings.ini"), rowSettings(table, 3));
    QCOMPARE(next->file("settings.ini"), rowSettings(table, 4));
    const QByteArray used = read("t.csv.used");
    QCOMPARE(used.count("3;" + imeiB), 4); // given, failed; given again, success
    QCOMPARE(used.count(";" + imeiA + ";"), 2);
    QVERIFY(!used.contains("3;" + imeiA));
}

void TestProvision::modemWithoutARowGetsNoJob_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QByteArray>("used");
    QTest::addColumn<QByteArray>("imei");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("not in a table of IMEIs")
        << QByteArray("IMEI;PIN\r\n" + imeiA + ";1111\r\n") << QByteArray() << imeiB
        << QStringLiteral("нет строки в таблице для IMEI ") + QString::fromLatin1(imeiB);
    QTest::newRow("IMEI not read") << QByteArray("PIN\r\n1111\r\n") << QByteArray() << QByteArray()
                                   << "IMEI не прочитан: таблица требует IMEI";
    QTest::newRow("every row given before")
        << QByteArray("PIN\r\n1111\r\n") << QByteArray("2;" + imeiA + ";;успех\r\n") << imeiB
        << ProvisionBook::exhaustedText();
}

// Only the presence check and the IMEI query reach such a modem; its record
// and its verdict say why it got no job.
void TestProvision::modemWithoutARowGetsNoJob()
{
    QFETCH(QByteArray, table);
    QFETCH(QByteArray, used);
    QFETCH(QByteArray, imei);
    QFETCH(QString, verdict);
    write("t.csv", table);
    if (!used.isEmpty())
        write("t.csv.used", used);
    ModemSim *sim = mBench->addModem(imei);
    const Run run = watch({"flash", "--provision", file("t.csv")}, {[&] {
                                                                        mBench->plug(sim, "1-1.1");
                                                                        return true;
                                                                    },
                                                                    interruptAfterLines(1)});
    const QString journal = QString::fromUtf8(read("journal.csv"));
    QVERIFY2(journal.contains(verdict) && journal.contains("нет строки таблицы"),
             qPrintable(journal + run.err));
    for (const QByteArray &command : sim->commands())
        QVERIFY2(command == "ate0" || command == "at+cgsn", command.constData());
    QVERIFY((run.out + run.err).contains(verdict.toUtf8()));
    const int exhausted = verdict == ProvisionBook::exhaustedText() ? 1 : 0;
    QCOMPARE(run.err.count("новые модемы не начинаются"), exhausted); // said once
}

// Every job said once the rows left reach the mark; a count the rows left
// cannot serve refuses the run before any port.
void TestProvision::tableRunningLowAndTooFewRowsForTheCount()
{
    write("t.csv", threeRows("352099001761481"));
    const Run refused = watch({"flash", "--count", "4", "--provision", file("t.csv")});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains("осталось строк: 3, а модемов задано: 4"),
             refused.err.constData());

    ModemSim *sim = mBench->addModem(imeiA);
    const Run low = watch(
        {"flash", "--count", "1", "--provision", file("t.csv"), "--provision-low", "2"}, {[&] {
            mBench->plug(sim, "1-1.1");
            return true;
        }});
    QVERIFY2(low.exitCode == 0, low.err.constData());
    QVERIFY2((low.out + low.err).contains("Строк таблицы осталось: 2 — заканчиваются"),
             low.err.constData());
}

// A table with a fault ends the run with its line before any port is opened.
void TestProvision::refusedTableTouchesNoModem()
{
    write("t.csv", "PIN;APN;PIN\r\n1;a;2\r\n");
    ModemSim *sim = mBench->addModem(imeiA);
    mBench->plug(sim, "1-1.1");
    const Run run = watch({"flash", "--include-present", "--provision", file("t.csv")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("строка 1"), run.err.constData());
    QVERIFY(sim->commands().isEmpty());
    QVERIFY(!QFile::exists(file("t.csv.used")));
}

// The flasher with a table asks each port's modem for its IMEI, then flashes
// it with its row; the results name the row, never its values.
void TestProvision::flasherAsksEachPortsImeiFirst()
{
    const QByteArray table = threeRows(imeiB);
    write("t.csv", table);
    ModemSim *a = mBench->addModem(imeiA);
    ModemSim *b = mBench->addModem(imeiB);
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const int code =
        runCli({"load-settings", "--port", a->portName(), "--port", b->portName(), "--settings",
                file("base.ini"), "--provision", file("t.csv"), "--json"},
               &out, &err, false, TestSupport::fastTiming());
    QVERIFY2(code == 0, err.data().constData());
    QCOMPARE(a->file("settings.ini"), rowSettings(table, 3));
    QCOMPARE(b->file("settings.ini"), rowSettings(table, 2));
    QVERIFY(a->commands().indexOf("at+cgsn") < a->commands().indexOf("at#escript=\"\""));
    QVERIFY(out.data().contains("\"tableRow\":2") && out.data().contains("\"tableRow\":3"));
    verifyNoSecret(out.data(), "stdout");
    verifyNoSecret(err.data(), "stderr");
    QCOMPARE(read("t.csv.used").count("успех"), 2);
}

QTEST_MAIN(TestProvision)
#include "tst_provision.moc"

// The journal as a spreadsheet program reads it on a double click with Russian
// settings: LibreOffice converts it, openpyxl reads the cells back.

#include "line/journal.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// soffice's first start in a fresh profile takes about ten seconds.
constexpr int convertLimitMs = 120000;
constexpr int readLimitMs = 30000;
const QString imei = QStringLiteral("490154203237518");
const QString recordId = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
// ";" between fields, '"' around them, UTF-8, from line 1, Russian.
const QString csvFilter = QStringLiteral("CSV:59,34,76,1,,1049");

// Each cell of the first sheet as {"kind": datetime|number|text|formula|empty, "value"}.
const char readCells[] = R"(
import datetime, json, sys, openpyxl
sheet = openpyxl.load_workbook(sys.argv[1]).active
rows = []
for row in sheet.iter_rows():
    cells = []
    for cell in row:
        v = cell.value
        if v is None:
            cells.append({"kind": "empty", "value": ""})
        elif cell.data_type == "f":
            cells.append({"kind": "formula", "value": str(v)})
        elif isinstance(v, datetime.datetime):
            cells.append({"kind": "datetime", "value": v.strftime("%Y-%m-%d %H:%M:%S")})
        elif isinstance(v, (int, float)):
            cells.append({"kind": "number", "value": str(int(v)) if float(v).is_integer() else repr(v)})
        else:
            cells.append({"kind": "text", "value": str(v)})
    rows.append(cells)
print(json.dumps(rows))
)";

// A python3 that has openpyxl: Debian's, or the first one on the path.
QString pythonWithOpenpyxl()
{
    for (const QString &candidate :
         {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        if (candidate.isEmpty() || !QFileInfo(candidate).isExecutable())
            continue;
        QProcess check;
        check.start(candidate, {"-c", "import openpyxl"});
        if (check.waitForFinished(readLimitMs) && check.exitStatus() == QProcess::NormalExit &&
            check.exitCode() == 0)
            return candidate;
    }
    return QString();
}

JournalRecord flashed()
{
    JournalRecord r;
    r.socket = 1;
    r.port = QStringLiteral("ttyUSB0");
    r.serialNumber = QStringLiteral("A10K3XQ");
    r.imei = imei;
    r.job = QStringLiteral("flash");
    r.result = JournalRecord::Result::Success;
    r.text = QStringLiteral("Модем прошит; тот же \"IMEI\" сейчас в гнезде 2");
    r.seconds = 46.6;
    r.settingsFile = QStringLiteral("bench.ini");
    r.settingsHash = QString(64, QLatin1Char('a'));
    r.tableRow = 7;
    r.fileHashes = QStringList{QStringLiteral("main.pyo:5f0c"), QStringLiteral("config.pyo:9a41")};
    r.recordId = recordId;
    return r;
}

JournalRecord failed()
{
    JournalRecord r = flashed();
    r.socket = 2;
    r.serialNumber = QStringLiteral("+7 495");
    r.result = JournalRecord::Result::Failure;
    r.step = QStringLiteral("at#lscript");
    r.text = QStringLiteral("=1+1"); // as the modem sent it
    r.seconds = 12;
    r.tableRow = 0; // no table
    r.recordId.clear();
    return r;
}
} // namespace

class TestJournalSpreadsheet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cells_data();
    void cells();

private:
    QTemporaryDir mDir;
    QJsonArray mRows;
};

// One conversion for every case: the journal written by the real journal,
// converted as a double click would read it, its cells read back.
void TestJournalSpreadsheet::initTestCase()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed: apt-get install libreoffice-calc-nogui");
    const QString python = pythonWithOpenpyxl();
    if (python.isEmpty())
        QSKIP("python3 with openpyxl is not installed: apt-get install python3-openpyxl");

    const QString csv = mDir.filePath(QStringLiteral("journal.csv"));
    Journal journal;
    journal.setClock([] { return QDateTime(QDate(2026, 12, 9), QTime(3, 37, 27)); });
    journal.setVersion(QStringLiteral("1.08"));
    journal.setBench(QStringLiteral("Стенд 2"));
    QString error;
    QVERIFY2(journal.open(csv, &error), qPrintable(error));
    QVERIFY2(journal.append(flashed(), &error), qPrintable(error));
    QVERIFY2(journal.append(failed(), &error), qPrintable(error));
    journal.close();

    QProcess convert;
    convert.setProcessChannelMode(QProcess::MergedChannels);
    const QString profile =
        QUrl::fromLocalFile(mDir.filePath(QStringLiteral("profile"))).toString();
    convert.start(soffice,
                  {QStringLiteral("-env:UserInstallation=") + profile, "--headless", "--convert-to",
                   "xlsx", "--infilter=" + csvFilter, "--outdir", mDir.path(), csv});
    QVERIFY2(convert.waitForFinished(convertLimitMs), "soffice did not finish in time");
    const QString xlsx = mDir.filePath(QStringLiteral("journal.xlsx"));
    QVERIFY2(convert.exitCode() == 0 && QFileInfo::exists(xlsx), convert.readAll().constData());

    QProcess read;
    read.start(python, {"-c", QString::fromLatin1(readCells), xlsx});
    QVERIFY2(read.waitForFinished(readLimitMs), "openpyxl did not finish in time");
    const QByteArray out = read.readAllStandardOutput();
    QVERIFY2(read.exitCode() == 0, read.readAllStandardError().constData());
    mRows = QJsonDocument::fromJson(out).array();
    QCOMPARE(mRows.size(), 3); // the header and two records
}

void TestJournalSpreadsheet::cells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QStringList>("kinds"); // any of these
    QTest::addColumn<QString>("value");
    const auto add = [](const char *name, int row, const QString &column, const QStringList &kinds,
                        const QString &value) {
        QTest::newRow(name) << row << column << kinds << value;
    };
    const QStringList text{"text"};
    const QStringList number{"number"};
    add("date-time", 1, "Дата и время", {"datetime"}, "2026-12-09 03:37:27");
    add("bench", 1, "Стенд", text, "Стенд 2");
    add("socket", 1, "Гнездо", number, "1");
    // A number or a text, as long as every digit survives.
    add("IMEI", 1, "IMEI", {"number", "text"}, imei);
    add("duration", 1, "Длительность, с", number, "47");
    add("version", 1, "Версия", text, "v1.08");
    add("text with a separator and quotes", 1, "Текст", text,
        "Модем прошит; тот же \"IMEI\" сейчас в гнезде 2");
    add("settings file", 1, "Файл настроек", text, "bench.ini");
    add("table row", 1, "Строка таблицы", number, "7");
    add("no table row", 2, "Строка таблицы", {"empty"}, "");
    add("settings hash", 1, "SHA-256 настроек", text, QString(64, QLatin1Char('a')));
    add("file hashes", 1, "SHA-256", text, "main.pyo:5f0c config.pyo:9a41");
    add("record id", 1, "Запись", text, recordId);
    add("result", 2, "Результат", text, "ошибка");
    add("step", 2, "Шаг", text, "at#lscript");
    add("a formula from the modem stays text", 2, "Текст", text, "'=1+1");
    add("a sign from the adapter stays text", 2, "Серийный номер адаптера", text, "'+7 495");
}

void TestJournalSpreadsheet::cells()
{
    QFETCH(int, row);
    QFETCH(QString, column);
    QFETCH(QStringList, kinds);
    QFETCH(QString, value);
    const QJsonArray header = mRows.at(0).toArray();
    int at = -1;
    for (int i = 0; i < header.size(); ++i) {
        if (header.at(i).toObject().value("value").toString() == column)
            at = i;
    }
    QVERIFY2(at >= 0, qPrintable("no column " + column));
    const QJsonObject cell = mRows.at(row).toArray().at(at).toObject();
    const QString kind = cell.value("kind").toString();
    QVERIFY2(kinds.contains(kind), qPrintable(kind + ": " + cell.value("value").toString()));
    QCOMPARE(cell.value("value").toString(), value);
}

QTEST_GUILESS_MAIN(TestJournalSpreadsheet)
#include "tst_journalspreadsheet.moc"

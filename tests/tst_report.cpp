#include "cli/clirunner.h"
#include "line/journal.h"
#include "line/journalreader.h"
#include "line/portlister.h"
#include "ui/benchwindow.h"
#include "ui/exportdialog.h"

#include <QBuffer>
#include <QDateEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <ctime>

namespace {
const QByteArray bom = "\xEF\xBB\xBF";
const QByteArray oldHeader = "Дата и время;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;"
                             "Результат;Шаг;Текст;Длительность, с;Версия;SHA-256\r\n";
const QByteArray previousHeader =
    "Дата и время;Стенд;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;Результат;Шаг;Текст;"
    "Длительность, с;Версия;Файл настроек;SHA-256 настроек;SHA-256;Запись\r\n";
const QByteArray newHeader =
    "Дата и время;Стенд;Гнездо;Порт;Серийный номер адаптера;IMEI;Задание;Результат;Шаг;Текст;"
    "Длительность, с;Версия;Файл настроек;Строка таблицы;SHA-256 настроек;SHA-256;Запись\r\n";
// Two records, a line no journal wrote and a last line still being written.
const QByteArray oldLines =
    "2026-12-08T03:37:27;2;ttyUSB0;FT1;490154203237518;flash;успех;;Готово;35;1.08;main.pyo:ab\r\n"
    "2026-12-09T23:59:59;3;ttyUSB1;FT2;;flash;ошибка;AT+X;\"'=HYPERLINK(\"\"x\"\";1)\";12;1.08;\r\n"
    "не строка журнала\r\n"
    "2026-12-09T23:59:59;4;tty";
const QByteArray previousLines =
    "2026-12-08 03:37:27;Стенд 2;2;COM3;FT1;490154203237518;flash;успех;;Готово;35;v1.08;"
    "s.ini;5e88;main.pyo:ab;r-1\r\n"
    "2026-12-09 23:59:59;Стенд "
    "2;3;COM4;FT2;;flash;ошибка;AT+X;\"'=HYPERLINK(\"\"x\"\";1)\";12;v1.08;"
    "s.ini;5e88;;r-2\r\n"
    "не строка журнала\r\n"
    "2026-12-09 23:59:59;Стенд 2;4;CO";
const QByteArray newLines =
    "2026-12-08 03:37:27;Стенд 2;2;COM3;FT1;490154203237518;flash;успех;;Готово;35;v1.08;"
    "s.ini;7;5e88;main.pyo:ab;r-1\r\n"
    "2026-12-09 23:59:59;Стенд "
    "2;3;COM4;FT2;;flash;ошибка;AT+X;\"'=HYPERLINK(\"\"x\"\";1)\";12;v1.08;"
    "s.ini;;5e88;;r-2\r\n"
    "не строка журнала\r\n"
    "2026-12-09 23:59:59;Стенд 2;4;CO";

// Every cell of the sheet with its Python type, and the sheet's set-up.
const char readBack[] = R"(
import json, sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
cells = [[{"type": type(c.value).__name__, "kind": c.data_type,
           "value": c.value.isoformat() if hasattr(c.value, "isoformat") else c.value}
          for c in row] for row in ws.iter_rows()]
print(json.dumps({"sheets": wb.sheetnames, "freeze": ws.freeze_panes,
                  "filter": ws.auto_filter.ref, "cells": cells}))
)";

struct CliResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

CliResult report(const QStringList &arguments)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliResult result;
    result.exitCode = runCli(QStringList{"report"} + arguments, &out, &err, false, Timing());
    result.out = QString::fromUtf8(out.data());
    result.err = QString::fromUtf8(err.data());
    return result;
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// A Python that has openpyxl: the one on the path may be a private one without it.
QString pythonWithOpenpyxl()
{
#ifdef Q_OS_WIN
    const QStringList pythons{QStringLiteral("python.exe")};
#else
    const QStringList pythons{QStringLiteral("python3"), QStringLiteral("/usr/bin/python3")};
#endif
    for (const QString &python : pythons) {
        QProcess probe;
        probe.start(python, {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
        if (probe.waitForStarted(5000) && probe.waitForFinished(30000) &&
            probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return python;
    }
    return QString();
}
} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cellsAreTyped_data();
    void cellsAreTyped();
    void range();
    void timeSkippedBySummerTime();
    void refusals_data();
    void refusals();
    void whileTheBenchWrites();
    void dialogExports();

private:
    QJsonObject readWorkbook(const QString &fileName);

    QTemporaryDir mDir;
    QString mPython;
};

void TestReport::initTestCase()
{
    QVERIFY(mDir.isValid());
    mPython = pythonWithOpenpyxl();
}

QJsonObject TestReport::readWorkbook(const QString &fileName)
{
    QProcess python;
    python.start(mPython, {QStringLiteral("-c"), QString::fromUtf8(readBack), fileName});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qWarning() << python.readAllStandardError();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

void TestReport::cellsAreTyped_data()
{
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<QString>("bench");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("tableRow");
    QTest::newRow("first layout, no BOM") << oldHeader + oldLines << QString() << "ttyUSB0"
                                          << "1.08" << QString() << "NoneType ";
    QTest::newRow("bench and settings columns, BOM")
        << bom + previousHeader + previousLines << "Стенд 2"
        << "COM3"
        << "v1.08"
        << "s.ini"
        << "NoneType ";
    QTest::newRow("the table's row, BOM") << bom + newHeader + newLines << "Стенд 2"
                                          << "COM3"
                                          << "v1.08"
                                          << "s.ini"
                                          << "int 7";
}

void TestReport::cellsAreTyped()
{
    QFETCH(QByteArray, journal);
    QFETCH(QString, bench);
    QFETCH(QString, port);
    QFETCH(QString, version);
    QFETCH(QString, settings);
    QFETCH(QString, tableRow);
    const QString csv = mDir.filePath(QStringLiteral("journal.csv"));
    const QString xlsx = mDir.filePath(QStringLiteral("journal.xlsx"));
    writeFile(csv, journal);

    const CliResult result = report({csv, QStringLiteral("--xlsx"), xlsx});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains(QStringLiteral("Выгружено записей: 2")), qPrintable(result.out));
    QVERIFY2(result.out.contains(QStringLiteral("не удалось прочитать: 2")),
             qPrintable(result.out));
    QCOMPARE(result.err, QString());
    if (mPython.isEmpty())
        QSKIP("python3 with openpyxl (Debian: python3-openpyxl) is not installed: the cells are "
              "not read back");

    const QJsonObject book = readWorkbook(xlsx);
    QCOMPARE(book.value("sheets").toArray(), QJsonArray({QStringLiteral("Журнал")}));
    QCOMPARE(book.value("freeze").toString(), QStringLiteral("A2"));
    QCOMPARE(book.value("filter").toString(), QStringLiteral("A1:Q3"));
    const QJsonArray cells = book.value("cells").toArray();
    QCOMPARE(cells.size(), 3);
    for (const QJsonValue &row : cells) {
        for (const QJsonValue &cell : row.toArray())
            QVERIFY2(cell.toObject().value("kind") != QStringLiteral("f"), "a formula cell");
    }
    const auto cell = [&cells](int row, int column) {
        return cells.at(row).toArray().at(column).toObject();
    };
    const auto typed = [&cell](int row, int column) {
        const QJsonObject c = cell(row, column);
        return c.value("type").toString() + QLatin1Char(' ') +
               c.value("value").toVariant().toString();
    };
    QCOMPARE(typed(0, 0), QStringLiteral("str Дата и время"));
    QCOMPARE(typed(0, 13), QStringLiteral("str Строка таблицы"));
    QCOMPARE(typed(0, 16), QStringLiteral("str Запись"));
    QCOMPARE(typed(1, 0), QStringLiteral("datetime 2026-12-08T03:37:27"));
    QCOMPARE(typed(1, 1), bench.isEmpty() ? QStringLiteral("NoneType ") : "str " + bench);
    QCOMPARE(typed(1, 2), QStringLiteral("int 2"));
    QCOMPARE(typed(1, 3), "str " + port);
    QCOMPARE(typed(1, 5), QStringLiteral("str 490154203237518"));
    QCOMPARE(typed(1, 10), QStringLiteral("int 35"));
    QCOMPARE(typed(1, 11), "str " + version);
    QCOMPARE(typed(1, 12), settings.isEmpty() ? QStringLiteral("NoneType ") : "str " + settings);
    QCOMPARE(typed(1, 13), tableRow);
    QCOMPARE(typed(1, 15), QStringLiteral("str main.pyo:ab"));
    QCOMPARE(typed(2, 0), QStringLiteral("datetime 2026-12-09T23:59:59"));
    QCOMPARE(typed(2, 5), QStringLiteral("NoneType "));
    QCOMPARE(typed(2, 13), QStringLiteral("NoneType "));
    // The journal's guard against a formula is undone: the cell is text anyway.
    QCOMPARE(typed(2, 9), QStringLiteral("str =HYPERLINK(\"x\";1)"));
}

// Days are whole: --to takes the last second of its day, --from its first.
void TestReport::range()
{
    const QString csv = mDir.filePath(QStringLiteral("range.csv"));
    const QString xlsx = mDir.filePath(QStringLiteral("range.xlsx"));
    writeFile(csv, bom + newHeader + newLines);
    for (const auto &[from, to, count] :
         {std::make_tuple("2026-12-09", "2026-12-09", 1), std::make_tuple("2026-12-08", "", 2),
          std::make_tuple("", "2026-12-08", 1), std::make_tuple("2026-12-10", "", 0)}) {
        QStringList arguments{csv, QStringLiteral("--xlsx"), xlsx};
        if (*from)
            arguments << QStringLiteral("--from") << QString::fromLatin1(from);
        if (*to)
            arguments << QStringLiteral("--to") << QString::fromLatin1(to);
        const CliResult result = report(arguments);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.startsWith(QStringLiteral("Выгружено записей: %1 ").arg(count)),
                 qPrintable(result.out));
    }
}

// A bench's clock reading in the hour a change to summer time skips is still a record.
void TestReport::timeSkippedBySummerTime()
{
#ifdef Q_OS_UNIX
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QDateTime time = JournalReader::parseTime(QStringLiteral("2026-03-29 02:30:00"));
    qputenv("TZ", zone);
    tzset();
    QCOMPARE(time.toString(Qt::ISODate), QStringLiteral("2026-03-29T02:30:00Z"));
    QVERIFY(!JournalReader::parseTime(QStringLiteral("2026-03-29 2:30:00")).isValid());
#else
    QSKIP("the time zone is set through TZ on Unix only");
#endif
}

void TestReport::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    // JOURNAL stands for a journal, NOTJOURNAL for a file without a header, OUT for a free name.
    QTest::newRow("missing journal")
        << QStringList{"nope.csv", "--xlsx", "OUT"} << 1 << "Журнал nope.csv не найден";
    QTest::newRow("not a journal")
        << QStringList{"NOTJOURNAL", "--xlsx", "OUT"} << 1 << "не похож на журнал";
    QTest::newRow("the journal as the workbook")
        << QStringList{"JOURNAL", "--xlsx", "JOURNAL"} << 1 << "это журнал";
    QTest::newRow("no folder") << QStringList{"JOURNAL", "--xlsx", "nofolder/out.xlsx"} << 1
                               << "нет. Выберите существующую папку";
    QTest::newRow("no --xlsx") << QStringList{"JOURNAL"} << 2 << "не указан файл --xlsx";
    QTest::newRow("no journal") << QStringList{"--xlsx", "OUT"} << 2 << "не указан ни один журнал";
    QTest::newRow("a day that is none")
        << QStringList{"JOURNAL", "--xlsx", "OUT", "--from", "2026-02-30"} << 2 << "ГГГГ-ММ-ДД";
    QTest::newRow("from after to")
        << QStringList{"JOURNAL", "--xlsx", "OUT", "--from", "2026-12-09", "--to", "2026-12-08"}
        << 2 << "--from позже --to";
}

void TestReport::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    const QString journal = mDir.filePath(QStringLiteral("refused.csv"));
    const QString notJournal = mDir.filePath(QStringLiteral("notes.csv"));
    const QByteArray bytes = bom + newHeader + newLines;
    writeFile(journal, bytes);
    writeFile(notJournal, "просто текст\r\n");
    for (QString &argument : arguments) {
        if (argument == QLatin1String("JOURNAL"))
            argument = journal;
        else if (argument == QLatin1String("NOTJOURNAL"))
            argument = notJournal;
        else if (argument == QLatin1String("OUT"))
            argument = mDir.filePath(QStringLiteral("refused.xlsx"));
        else if (argument.startsWith(QLatin1String("nofolder")))
            argument = mDir.filePath(argument);
    }
    const CliResult result = report(arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(reason), qPrintable(result.err));
    QCOMPARE(result.out, QString());
    QVERIFY(!QFile::exists(mDir.filePath(QStringLiteral("refused.xlsx"))));
    QFile kept(journal);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), bytes);
}

// The export only reads: a journal a bench holds open for its lines is read all the same
void TestReport::whileTheBenchWrites()
{
    const QString csv = mDir.filePath(QStringLiteral("held.csv"));
    Journal journal;
    journal.setClock([] { return QDateTime(QDate(2026, 12, 9), QTime(3, 37, 27)); });
    QString error;
    QVERIFY2(journal.open(csv, &error), qPrintable(error));
    JournalRecord record;
    record.socket = 1;
    record.imei = QStringLiteral("490154203237518");
    record.job = QStringLiteral("flash");
    record.result = JournalRecord::Result::Success;
    QVERIFY2(journal.append(record, &error), qPrintable(error));

    const CliResult result = report({csv, QStringLiteral("--xlsx"), mDir.filePath("held.xlsx")});
    QCOMPARE(result.err, QString());
    QVERIFY2(result.out.startsWith(QStringLiteral("Выгружено записей: 1 ")),
             qPrintable(result.out));
    QVERIFY2(journal.append(record, &error), qPrintable(error));
    // ... and is still its one writer.
    Journal second;
    QVERIFY(!second.open(csv, &error));
    QVERIFY2(error.contains(QStringLiteral("журнал уже ведёт другой стенд")), qPrintable(error));
}

// From the bench window's button: the journal in its field, the day chosen,
// the result in the dialog; then an error stays in it too.
void TestReport::dialogExports()
{
    const QString csv = mDir.filePath(QStringLiteral("bench.csv"));
    writeFile(csv, bom + newHeader + newLines);
    BenchWindow window(PortLister([] { return QList<PortEntry>(); }), nullptr);
    window.findChild<QLineEdit *>(QStringLiteral("editJournal"))->setText(csv);
    window.show();
    auto *button = window.findChild<QPushButton *>(QStringLiteral("buttonExportExcel"));
    QVERIFY(button);
    button->click();
    auto *dialog = window.findChild<ExportDialog *>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    auto *journals = dialog->findChild<QListWidget *>(QStringLiteral("listJournals"));
    QCOMPARE(journals->count(), 1);
    QCOMPARE(QDir::fromNativeSeparators(journals->item(0)->text()), csv);
    QCOMPARE(dialog->findChild<QDateEdit *>(QStringLiteral("dateTo"))->date(),
             QDate::currentDate());
    dialog->findChild<QDateEdit *>(QStringLiteral("dateFrom"))->setDate(QDate(2026, 12, 8));
    dialog->findChild<QDateEdit *>(QStringLiteral("dateTo"))->setDate(QDate(2026, 12, 8));
    auto *target = dialog->findChild<QLineEdit *>(QStringLiteral("editTarget"));
    QCOMPARE(QDir::fromNativeSeparators(target->text()),
             mDir.filePath(QStringLiteral("bench-2026-12-08.xlsx")));

    QSignalSpy finished(dialog, &ExportDialog::signal_finished);
    auto *exportButton = dialog->findChild<QPushButton *>(QStringLiteral("buttonExport"));
    exportButton->click();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.takeFirst().at(0).toBool(), true);
    QVERIFY2(dialog->resultText().startsWith(QStringLiteral("Выгружено записей: 1 в файл")),
             qPrintable(dialog->resultText()));
    QVERIFY(QFile::exists(mDir.filePath(QStringLiteral("bench-2026-12-08.xlsx"))));

    target->setText(mDir.filePath(QStringLiteral("nofolder/bench.xlsx")));
    exportButton->click();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.takeFirst().at(0).toBool(), false);
    QVERIFY2(dialog->resultText().contains(QStringLiteral("Выберите существующую папку")),
             qPrintable(dialog->resultText()));
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"

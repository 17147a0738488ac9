#include "filesizelimit.h"
#include "line/xlsxexport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// A disk that fills up during an export: the library writing the workbook
// does not notice every failed write of its own files.
class TestReportFull : public QObject
{
    Q_OBJECT

private slots:
    void fullDiskKeepsTheEarlierFile();
};

void TestReportFull::fullDiskKeepsTheEarlierFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("day.xlsx"));
    {
        QFile earlier(target);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier");
    }
    QList<JournalReader::Row> rows;
    for (int i = 0; i < 20000; ++i) {
        JournalReader::Row row;
        row.time = QDateTime(QDate(2026, 12, 9), QTime(3, 0).addSecs(i), Qt::UTC);
        row.imei = QStringLiteral("4901542032%1").arg(i, 5, 10, QLatin1Char('0'));
        row.text = QStringLiteral("Модем прошит, запись %1").arg(i);
        rows << row;
    }
    const QStringList scratchFilter{QStringLiteral("lorta-export-*")};
    const int scratchBefore = QDir::temp().entryList(scratchFilter).size();
    QString error;
    bool written = true;
    {
        TestSupport::FileSizeLimit limit(256 * 1024);
        written = XlsxExport::write(target, rows, &error);
    }
    QVERIFY(!written);
    QVERIFY2(error.startsWith(QStringLiteral("Не удалось записать файл ") + target),
             qPrintable(error));
    QVERIFY2(error.endsWith(QStringLiteral("Освободите место и повторите экспорт.")),
             qPrintable(error));
    QFile kept(target);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("earlier"));
    QCOMPARE(QDir::temp().entryList(scratchFilter).size(), scratchBefore);

    QVERIFY2(XlsxExport::write(target, rows, &error), qPrintable(error));
}

QTEST_MAIN(TestReportFull)
#include "tst_reportfull.moc"

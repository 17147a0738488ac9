// The shift at a glance: today's journal records summed up per socket and per
// hour, the sortable table, the chart drawn offscreen, the flasher's closing
// table, and the bench window's panel over a real watch.
#include "cli/watchconsole.h"
#include "line/journal.h"
#include "line/shiftmodel.h"
#include "line/sockethealth.h"
#include "modemsim.h"
#include "socketbench.h"
#include "testtiming.h"
#include "ui/benchwindow.h"
#include "ui/shiftchart.h"
#include "ui/shiftpanel.h"

#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using Result = JournalRecord::Result;

namespace {
constexpr int jobMs = 90000;
const QDate day(2026, 12, 9);

QDateTime at(int hour, int minute, const QDate &date = day)
{
    return QDateTime(date, QTime(hour, minute));
}

JournalRecord record(int socket, Result result, const QDateTime &time,
                     const QString &text = QString())
{
    JournalRecord made;
    made.socket = socket;
    made.result = result;
    made.time = time;
    made.text = text;
    return made;
}

// A morning on three sockets, with a record of yesterday's first.
QList<JournalRecord> morning()
{
    return {record(1, Result::Failure, at(23, 50, day.addDays(-1)), QStringLiteral("вчера")),
            record(1, Result::Success, at(8, 5)),
            record(1, Result::Failure, at(8, 40), QStringLiteral("шаг 3 из 10: ERROR")),
            record(2, Result::Unplugged, at(9, 10)),
            record(1, Result::Success, at(10, 15)),
            record(3, Result::AlreadyFlashed, at(10, 20)),
            record(2, Result::SocketDisabled, at(10, 30), QStringLiteral("Гнездо 2 отключено")),
            record(1, Result::OpenFailed, at(10, 45), QStringLiteral("порт занят"))};
}
} // namespace

class TestShift : public QObject
{
    Q_OBJECT

private slots:
    void summaryOfTheDay();
    void hoursOfTheShift_data();
    void hoursOfTheShift();
    void modelFollowsTheDay();
    void tableSortsByValue_data();
    void tableSortsByValue();
    void chartDrawsAnyShift_data();
    void chartDrawsAnyShift();
    void countTicksCoverTheHighestBar_data();
    void countTicksCoverTheHighestBar();
    void closingTable();
    void panelShowsTheMorningAndFollowsTheWatch();
};

// Today's records only; a failure of any kind but "already flashed" and the
// socket's own "out of service" line, the last one's text (or its result's).
void TestShift::summaryOfTheDay()
{
    const ShiftSummary summary = ShiftSummary::of(morning(), at(11, 0));
    const QList<ShiftSummary::Socket> sockets = summary.sockets();
    QCOMPARE(sockets.size(), 3);
    const ShiftSummary::Socket first = sockets.at(0);
    QCOMPARE(first.number, 1);
    QCOMPARE(first.counters.succeeded, 2);
    QCOMPARE(first.counters.failed, 2);
    QCOMPARE(first.lastFailure, QStringLiteral("порт занят"));
    QCOMPARE(first.lastFailureTime, at(10, 45));
    const ShiftSummary::Socket second = sockets.at(1);
    QCOMPARE(second.counters.failed, 1);
    QCOMPARE(second.lastFailure, QStringLiteral("модем отключён"));
    QCOMPARE(second.lastFailureTime, at(9, 10));
    const ShiftSummary::Socket third = sockets.at(2);
    QCOMPARE(third.counters.alreadyFlashed, 1);
    QCOMPARE(third.counters.failed + third.counters.succeeded, 0);
    QVERIFY(third.lastFailure.isEmpty() && !third.lastFailureTime.isValid());
}

void TestShift::hoursOfTheShift_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("hours"); // "hour:succeeded/failed" …
    QTest::newRow("to the current hour, empty ones included")
        << at(13, 5) << QStringLiteral("8:1/1 9:0/1 10:1/1 11:0/0 12:0/0 13:0/0");
    QTest::newRow("within the last record's hour")
        << at(10, 50) << QStringLiteral("8:1/1 9:0/1 10:1/1");
    QTest::newRow("a clock behind the records") << at(7, 0) << QStringLiteral("8:1/1 9:0/1 10:1/1");
}

void TestShift::hoursOfTheShift()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, hours);
    QStringList drawn;
    for (const ShiftSummary::Hour &hour : ShiftSummary::of(morning(), now).hours(now))
        drawn << QStringLiteral("%1:%2/%3").arg(hour.hour).arg(hour.succeeded).arg(hour.failed);
    QCOMPARE(drawn.join(QLatin1Char(' ')), hours);
    QVERIFY(ShiftSummary(day).hours(now).isEmpty());
}

// Past midnight the table starts empty, by the clock or by the first record
// of the new day; a late record of the day before is left out.
void TestShift::modelFollowsTheDay()
{
    ShiftModel model;
    QDateTime now = at(23, 0, day.addDays(-1));
    model.setClock([&now] { return now; });
    model.setRecords(morning());
    QCOMPARE(model.rowCount(), 1);
    QSignalSpy changed(&model, &ShiftModel::signal_changed);

    now = at(11, 0);
    model.refresh();
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.hours().isEmpty());
    model.setRecords(morning());
    QCOMPARE(model.rowCount(), 3);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.addRecord(record(4, Result::Success, at(11, 2)));
    model.addRecord(record(1, Result::Failure, at(11, 3), QStringLiteral("сейчас")));
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.index(0, ShiftModel::LastFailureColumn).data().toString(),
             QStringLiteral("сейчас"));
    QCOMPARE(resets.count(), 0); // the operator's selection stays
    const int changes = changed.count();
    model.addRecord(record(4, Result::Failure, at(23, 59, day.addDays(-1))));
    QCOMPARE(model.index(3, ShiftModel::FailedColumn).data().toInt(), 0);
    QCOMPARE(changed.count(), changes);
    model.addRecord(record(5, Result::Failure, at(0, 1, day.addDays(1))));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.index(0, ShiftModel::SocketColumn).data().toInt(), 5);
    QCOMPARE(model.index(0, ShiftModel::LastFailureTimeColumn).data().toString(),
             QStringLiteral("00:01"));
}

void TestShift::tableSortsByValue_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QList<int>>("sockets"); // in the order shown
    QTest::newRow("socket, descending")
        << int(ShiftModel::SocketColumn) << int(Qt::DescendingOrder) << QList<int>{10, 9, 2};
    QTest::newRow("failures as numbers")
        << int(ShiftModel::FailedColumn) << int(Qt::DescendingOrder) << QList<int>{9, 2, 10};
    QTest::newRow("last failure's time, not its text")
        << int(ShiftModel::LastFailureTimeColumn) << int(Qt::AscendingOrder)
        << QList<int>{10, 2, 9};
}

void TestShift::tableSortsByValue()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QList<int>, sockets);
    QList<JournalRecord> records{record(10, Result::Success, at(8, 0)),
                                 record(2, Result::Failure, at(9, 59), QStringLiteral("б"))};
    for (int i = 0; i < 10; ++i)
        records << record(9, Result::Failure, at(10, i), QStringLiteral("а"));
    ShiftModel model;
    model.setClock([] { return at(12, 0); });
    model.setRecords(records);
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&model);
    proxy.setSortRole(ShiftModel::SortRole);
    proxy.sort(column, Qt::SortOrder(order));
    QList<int> shown;
    for (int row = 0; row < proxy.rowCount(); ++row)
        shown << proxy.index(row, ShiftModel::SocketColumn).data().toInt();
    QCOMPARE(shown, sockets);
}

void TestShift::chartDrawsAnyShift_data()
{
    QTest::addColumn<int>("hours");
    QTest::addColumn<int>("width");
    QTest::newRow("no records") << 0 << 520;
    QTest::newRow("one hour") << 1 << 520;
    QTest::newRow("a whole day, narrow") << 24 << 240;
    QTest::newRow("a whole day, wide") << 24 << 1200;
}

// Any shift is drawn without a crash; both series reach the picture, and the
// hour labels never crowd each other.
void TestShift::chartDrawsAnyShift()
{
    QFETCH(int, hours);
    QFETCH(int, width);
    QVector<ShiftSummary::Hour> shift;
    for (int hour = 0; hour < hours; ++hour)
        shift.append({hour, 20 + hour, hour % 4});
    ShiftChart chart;
    chart.setHours(shift);
    QImage image(width, 240, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    chart.paint(painter, image.rect());
    painter.end();

    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 1)
        for (int x = 0; x < image.width(); x += 1)
            colours.insert(image.pixel(x, y));
    QVERIFY(!colours.contains(qRgb(0, 0, 0)));         // the whole rectangle painted
    QVERIFY(colours.contains(qRgb(0x1b, 0x5e, 0x20))); // the legend's swatch at least
    QVERIFY(colours.contains(qRgb(0xb7, 0x1c, 0x1c)));
    const QStringList labels = chart.hourLabels(width - 60);
    if (hours > 0) {
        QCOMPARE(labels.first(), QStringLiteral("00"));
        QVERIFY(labels.size() * chart.fontMetrics().horizontalAdvance(QStringLiteral("00 ")) <
                width);
    }
    // The tooltip's hour under the last bar's label, none left of the bars.
    chart.resize(image.size());
    QCOMPARE(chart.hourAt(QPoint(width - 12, 230)), hours > 0 ? hours - 1 : -1);
    QCOMPARE(chart.hourAt(QPoint(2, 120)), -1);
    if (qEnvironmentVariableIsSet("SHIFT_CHART_PNG") && hours == 24 && width > 1000)
        image.save(qEnvironmentVariable("SHIFT_CHART_PNG"));
}

void TestShift::countTicksCoverTheHighestBar_data()
{
    QTest::addColumn<int>("highest");
    QTest::addColumn<QVector<int>>("ticks");
    QTest::newRow("nothing") << 0 << QVector<int>{0, 1};
    QTest::newRow("three") << 3 << QVector<int>{0, 1, 2, 3, 4};
    QTest::newRow("five") << 5 << QVector<int>{0, 2, 4, 6};
    QTest::newRow("forty-one") << 41 << QVector<int>{0, 10, 20, 30, 40, 50};
    QTest::newRow("two hundred") << 200 << QVector<int>{0, 50, 100, 150, 200, 250};
}

void TestShift::countTicksCoverTheHighestBar()
{
    QFETCH(int, highest);
    QFETCH(QVector<int>, ticks);
    QCOMPARE(ShiftChart::countTicks(highest), ticks);
}

// The flasher's end: a column of modems already flashed only when there were
// some, the time before the last failure, a modem's control bytes escaped,
// and why a socket is out of service.
void TestShift::closingTable()
{
    QList<JournalRecord> records = morning();
    records << record(1, Result::NoAnswer, at(10, 50), QStringLiteral("получено: \x1b[2J"));
    SocketHealth health(1);
    health.count(2, Result::Failure, QString());
    const QString table =
        WatchConsole::socketTable(ShiftSummary::of(records, at(11, 0)).sockets(), health);
    QCOMPARE(table, QStringLiteral("Сегодня по гнёздам:\n"
                                   "Гнездо  Успешно  Ошибки  Уже прошиты  Последняя ошибка\n"
                                   "1       2        3       0            10:50 получено: "
                                   "\\x1b[2J\n"
                                   "2       0        1       0            09:10 модем отключён\n"
                                   "3       0        0       1\n") +
                        SocketHealth::reasonText(2, 1) + QLatin1Char('\n'));
    const QString plain = WatchConsole::socketTable(
        ShiftSummary::of({record(4, Result::Success, at(8, 0))}, at(9, 0)).sockets(),
        SocketHealth(0));
    QCOMPARE(plain, QStringLiteral("Сегодня по гнёздам:\nГнездо  Успешно  Ошибки  Последняя "
                                   "ошибка\n4       1        0\n"));
}

// A bench started after a morning's work shows the morning at once, and each
// record as it reaches the journal.
void TestShift::panelShowsTheMorningAndFollowsTheWatch()
{
    QTemporaryDir dir;
    const QString journalFile = dir.filePath(QStringLiteral("j.csv"));
    // Up to eight hours of today on sockets 2 to 8, the last a minute ago.
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime start = qMax(now.addSecs(-8 * 3600), QDateTime(now.date(), QTime(0, 0)));
    const qint64 span = qMax<qint64>(0, start.secsTo(now) - 60);
    constexpr int earlierRecords = 60;
    const QStringList reasons{QStringLiteral("Ошибка при прошивке модема: шаг 4 из 10: ERROR"),
                              QStringLiteral("нет ответа за 1500 мс")};
    {
        Journal journal;
        QDateTime written = start;
        journal.setClock([&written] { return written; });
        QString error;
        QVERIFY2(journal.open(journalFile, &error), qPrintable(error));
        for (int i = 0; i < earlierRecords; ++i) {
            written = start.addSecs(span * i / (earlierRecords - 1));
            const bool failure = i % 5 == 3;
            QVERIFY(journal.append(record(2 + i % 7, failure ? Result::Failure : Result::Success,
                                          QDateTime(), failure ? reasons.at(i % 2) : QString()),
                                   &error));
        }
        journal.close();
    }
    QFile settings(dir.filePath(QStringLiteral("settings.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("APN::modem.apn::Точка входа GPRS\r\n");
    settings.close();

    TestSupport::SocketBench bench(TestSupport::fastScale);
    BenchWindow window(bench.lister(), nullptr, TestSupport::fastTiming());
    window.findChild<QLineEdit *>(QStringLiteral("editJournal"))->setText(journalFile);
    window.setSettingsFile(settings.fileName());
    window.show();
    auto *panel = window.findChild<ShiftPanel *>(QStringLiteral("panelShift"));
    QVERIFY(panel);
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabsBelow"));
    QCOMPARE(tabs->tabText(tabs->indexOf(panel)), QStringLiteral("Смена"));
    window.findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
    QVERIFY(window.running());
    QCOMPARE(panel->model()->rowCount(), 7);
    const QModelIndex fifth = panel->model()->index(3, 0);
    QCOMPARE(fifth.data().toInt(), 5);
    QCOMPARE(fifth.siblingAtColumn(ShiftModel::FailedColumn).data().toInt(), 2); // i = 3, 38
    QCOMPARE(fifth.siblingAtColumn(ShiftModel::LastFailureColumn).data().toString(), reasons.at(0));

    bench.plug(bench.addModem("490154203237518"), QStringLiteral("1-1"));
    QTRY_COMPARE_WITH_TIMEOUT(panel->model()->rowCount(), 8, jobMs);
    QTableView *table = panel->table();
    QCOMPARE(table->model()->index(0, ShiftModel::SocketColumn).data().toInt(), 1);
    QCOMPARE(table->model()->index(0, ShiftModel::SucceededColumn).data().toInt(), 1);
    int drawn = 0;
    for (const ShiftSummary::Hour &hour : panel->chart()->hours())
        drawn += hour.succeeded + hour.failed;
    QCOMPARE(drawn, earlierRecords + 1);
    // SHIFT_PANEL_PNG=file: the window with its shift tab open, as a picture.
    if (qEnvironmentVariableIsSet("SHIFT_PANEL_PNG")) {
        tabs->setCurrentWidget(panel);
        window.resize(1280, 720);
        QVERIFY(window.grab().save(qEnvironmentVariable("SHIFT_PANEL_PNG")));
    }
}

QTEST_MAIN(TestShift)
#include "tst_shift.moc"

// The bench window offscreen over a real watch: a hand-filled port list and
// simulated modems on pseudo-terminals, on the fast timing.
#include "filesizelimit.h"
#include "line/socketmodel.h"
#include "modalcloser.h"
#include "modembench.h"
#include "modemsim.h"
#include "socketbench.h"
#include "stallmeter.h"
#include "testtiming.h"
#include "throwawaypostgres.h"
#include "ui/benchwindow.h"
#include "ui/unwrittenrecords.h"

#include <QInputDialog>
#include <QListView>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using TestSupport::fastMs;
using TestSupport::schedulingSlackMs;

namespace {
constexpr int jobMs = 90000;
const QByteArray settingsText = "APN::modem.apn::Точка входа GPRS\r\n";

QPushButton *button(QWidget *window, const QStringList &texts)
{
    for (QPushButton *found : window->findChildren<QPushButton *>()) {
        if (texts.contains(found->text()))
            return found;
    }
    return nullptr;
}

QPushButton *startButton(QWidget *window)
{
    return window->findChild<QPushButton *>(QStringLiteral("buttonStart"));
}
} // namespace

class TestBenchWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusedSettingsFile_data();
    void refusedSettingsFile();
    void controlsLockedWhileRunningAndStopLetsJobsFinish();
    void provisionTableCheckedAndEachModemGetsItsRow();
    void closingWhileJobsRunAsksOnceAndStopsQuickly();
    void fitsItsScreen();
    void unwrittenRecordKeptUntilWritten();
    void socketActionsPrepareAgainAndReturnToService();
    void socketGivenAnotherNumber();
    void databaseCheckRefusesPasswordAndSaysWhyServerIsUnreachable();
    void databaseCheckListsServerTablesAsOneSourceOfRows();

private:
    ModemSim *addModem() { return mBench->addModem("490154203237518", true); }
    void plug(ModemSim *sim, const QString &location) { mBench->plug(sim, location); }
    std::unique_ptr<BenchWindow> makeWindow();
    QString writeFile(const QString &name, const QByteArray &bytes);

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<TestSupport::SocketBench> mBench;
};

void TestBenchWindow::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    mBench = std::make_unique<TestSupport::SocketBench>(TestSupport::fastScale);
}

void TestBenchWindow::cleanup()
{
    mBench.reset();
    mDir.reset();
}

QString TestBenchWindow::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = mDir->filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

std::unique_ptr<BenchWindow> TestBenchWindow::makeWindow()
{
    auto window =
        std::make_unique<BenchWindow>(mBench->lister(), nullptr, TestSupport::fastTiming());
    window->findChild<QLineEdit *>(QStringLiteral("editJournal"))
        ->setText(mDir->filePath(QStringLiteral("j.csv")));
    window->setSettingsFile(writeFile(QStringLiteral("settings.ini"), settingsText));
    window->show();
    return window;
}

void TestBenchWindow::refusedSettingsFile_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file at all
    QTest::addColumn<bool>("refused");
    QTest::newRow("missing") << QByteArray() << true;
    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("control character") << QByteArray("APN::a\x01::b\r\n") << true;
    QTest::newRow("good") << settingsText << false;
}

// The file is checked when chosen: a refused one shows why and cannot start.
void TestBenchWindow::refusedSettingsFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, refused);
    std::unique_ptr<BenchWindow> window = makeWindow();
    const QString path = bytes.isNull() ? mDir->filePath(QStringLiteral("none.ini"))
                                        : writeFile(QStringLiteral("chosen.ini"), bytes);
    window->setSettingsFile(path);
    QCOMPARE(window->settingsProblem().isEmpty(), !refused);
    QCOMPARE(startButton(window.get())->isEnabled(), !refused);
    bool shown = false;
    for (QLabel *label : window->findChildren<QLabel *>())
        shown = shown || (refused && label->text() == window->settingsProblem());
    QCOMPARE(shown, refused);
}

// While the watch runs, job, file and filter are locked. "Остановить" starts no
// new modem but lets the running job end green; then everything unlocks. A
// modem already in at "Начать" is left alone, and the line above the tiles
// says so and how to take it.
void TestBenchWindow::controlsLockedWhileRunningAndStopLetsJobsFinish()
{
    ModemSim *writing = addModem();
    writing->setPaced(true);
    ModemSim *late = addModem();
    ModemSim *already = addModem();
    plug(already, QStringLiteral("1-9"));
    std::unique_ptr<BenchWindow> window = makeWindow();
    auto *job = window->findChild<QComboBox *>(QStringLiteral("comboJob"));
    auto *filter = window->findChild<QComboBox *>(QStringLiteral("comboFilter"));
    QCheckBox *present = window->findChild<QCheckBox *>();
    QVERIFY(!present->isChecked());
    QPushButton *start = startButton(window.get());
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY2(window->running(),
             qPrintable(window->findChild<QLabel *>(QStringLiteral("labelProblem"))->text()));
    QCOMPARE(start->text(), QStringLiteral("Остановить"));
    QTRY_COMPARE(window->findChild<QLabel *>(QStringLiteral("labelSkipped"))->text(),
                 QStringLiteral("Пропущены уже подключённые порты: pts") +
                     QFileInfo(already->portName()).fileName() +
                     QStringLiteral(" — включите «Брать и уже подключённые»"));
    for (QWidget *control :
         {static_cast<QWidget *>(job), static_cast<QWidget *>(filter),
          static_cast<QWidget *>(present),
          static_cast<QWidget *>(button(window.get(), {QStringLiteral("Выбрать…")}))})
        QVERIFY(!control->isEnabled());

    plug(writing, QStringLiteral("1-1"));
    QTRY_VERIFY_WITH_TIMEOUT(writing->dataBytesReceived() > 300, jobMs);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!start->isEnabled());
    plug(late, QStringLiteral("1-2"));
    const QModelIndex tile = window->model()->index(0, 0);
    QVERIFY2(tile.data(SocketModel::DetailRole).toString().contains(QStringLiteral("новые не")),
             qPrintable(tile.data(SocketModel::DetailRole).toString()));
    QTRY_VERIFY_WITH_TIMEOUT(!window->running(), jobMs);
    QCOMPARE(tile.data(SocketModel::ToneRole).toInt(), int(SocketModel::Good));
    QVERIFY(late->commands().isEmpty() && already->commands().isEmpty());
    QCOMPARE(start->text(), QStringLiteral("Начать"));
    QVERIFY(start->isEnabled() && job->isEnabled() && filter->isEnabled());
}

// The table is checked when chosen and again at "Начать": a refused one shows
// its line's reason where the settings file's would be and cannot start. A
// good one starts the watch with it: the modem gets its row's settings, the
// counters say the rows left, and the table cannot be changed while it runs.
void TestBenchWindow::provisionTableCheckedAndEachModemGetsItsRow()
{
    std::unique_ptr<BenchWindow> window = makeWindow();
    QPushButton *start = startButton(window.get());
    auto *edit = window->findChild<QLineEdit *>(QStringLiteral("editProvision"));
    auto *noTable = window->findChild<QPushButton *>(QStringLiteral("buttonNoProvision"));
    const auto shownProblem = [&window] {
        int shown = 0;
        for (QLabel *label : window->findChildren<QLabel *>())
            shown += label->isVisible() && label->text() == window->provisionProblem();
        return shown;
    };
    QVERIFY(!noTable->isEnabled());

    window->setProvisionFile(writeFile(QStringLiteral("bad.csv"), "IMEI;PIN\r\n"
                                                                  "490154203237518;12::34\r\n"));
    QVERIFY2(window->provisionProblem().contains(QStringLiteral("строка 2")) &&
                 window->provisionProblem().contains(QStringLiteral("«::»")),
             qPrintable(window->provisionProblem()));
    QCOMPARE(shownProblem(), 1);
    QVERIFY(!start->isEnabled() && noTable->isEnabled());
    QTest::mouseClick(noTable, Qt::LeftButton);
    QVERIFY(edit->text().isEmpty() && window->provisionProblem().isEmpty());
    QVERIFY(start->isEnabled() && !noTable->isEnabled());

    // Gone between its choice and the start: refused then, nothing started.
    const QString table = writeFile(QStringLiteral("table.csv"), "IMEI;PIN\r\n"
                                                                 "490154203237518;1234\r\n");
    window->setProvisionFile(table);
    QVERIFY2(window->provisionProblem().isEmpty(), qPrintable(window->provisionProblem()));
    QVERIFY(start->isEnabled());
    QVERIFY(QFile::rename(table, table + QStringLiteral(".away")));
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY(!window->running() && !start->isEnabled());
    QVERIFY2(window->provisionProblem().contains(QStringLiteral("не найден")),
             qPrintable(window->provisionProblem()));
    QVERIFY(QFile::rename(table + QStringLiteral(".away"), table));
    window->setProvisionFile(table); // chosen again once it is back

    ModemSim *sim = mBench->addModem("490154203237518");
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY2(window->running(),
             qPrintable(window->findChild<QLabel *>(QStringLiteral("labelProblem"))->text()));
    QVERIFY(!noTable->isEnabled());
    QVERIFY(!window->findChild<QPushButton *>(QStringLiteral("buttonProvision"))->isEnabled());
    auto *counters = window->findChild<QLabel *>(QStringLiteral("labelCounters"));
    const auto countersText = [counters] {
        return counters->text().replace(QChar::Nbsp, QLatin1Char(' '));
    };
    QVERIFY2(countersText().contains(QStringLiteral("    Строк таблицы осталось: 1")),
             qPrintable(countersText()));
    plug(sim, QStringLiteral("1-1"));
    QTRY_VERIFY_WITH_TIMEOUT(countersText().startsWith(QStringLiteral("Успешно: 1")), jobMs);
    QVERIFY2(sim->file("settings.ini").contains("PIN::1234::"),
             sim->file("settings.ini").constData());
    QTRY_VERIFY2(countersText().contains(QStringLiteral("    Строк таблицы осталось: 0")),
                 qPrintable(countersText()));
    // The last row used up: the modem's tile still says it is done.
    QTest::qWait(fastMs(700));
    const QModelIndex tile =
        window->findChild<QListView *>(QStringLiteral("viewTiles"))->model()->index(0, 0);
    QCOMPARE(tile.data(SocketModel::VerdictRole).toInt(), int(SocketModel::Done));
}

// Closing while a modem is written asks once; on "Да" the ports stop and the
// window closes within half a second.
void TestBenchWindow::closingWhileJobsRunAsksOnceAndStopsQuickly()
{
    ModemSim *writing = addModem();
    writing->setPaced(true);
    std::unique_ptr<BenchWindow> window = makeWindow();
    QTest::mouseClick(startButton(window.get()), Qt::LeftButton);
    plug(writing, QStringLiteral("1-1"));
    QTRY_VERIFY_WITH_TIMEOUT(writing->dataBytesReceived() > 300, jobMs);

    int asked = 0;
    QElapsedTimer sinceYes;
    TestSupport::ModalCloser closer;
    closer.setInspector([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (box) {
            ++asked;
            sinceYes.start();
            box->button(QMessageBox::Yes)->click();
        }
        return false;
    });
    window->close();
    QTRY_VERIFY(!window->isVisible());
    QVERIFY2(sinceYes.elapsed() < fastMs(500) + schedulingSlackMs,
             qPrintable(QString::number(sinceYes.elapsed())));
    QCOMPARE(asked, 1);
    // Bytes already handed to the port still drain; no command follows them.
    const int commandsAtClose = writing->commands().size();
    QTest::qWait(fastMs(600));
    QCOMPARE(writing->commands().size(), commandsAtClose);
}

// The control is visible and wholly inside the window.
static bool shownWhole(QWidget *window, const char *name)
{
    auto *control = window->findChild<QWidget *>(QLatin1String(name));
    const QRect rect(control->mapTo(window, QPoint()), control->size());
    return window->rect().contains(rect) && control->isVisible();
}

// The window opens inside its screen, and at 1280×720 every control of its
// top row is in the window.
void TestBenchWindow::fitsItsScreen()
{
    std::unique_ptr<BenchWindow> window = makeWindow();
    const QRect available = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    QVERIFY2(available.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                                       .arg(frame.x())
                                                       .arg(frame.y())
                                                       .arg(frame.width())
                                                       .arg(frame.height())
                                                       .arg(available.width())
                                                       .arg(available.height())));
    window->resize(1280, 720);
    QTRY_COMPARE(window->width(), 1280);
    for (const char *name :
         {"comboJob", "editSettings", "comboFilter", "editJournal", "buttonStart", "editProvision",
          "buttonNoProvision", "checkIncludePresent", "spinGoneAfter"})
        QVERIFY2(shownWhole(window.get(), name), name);
    // The floor's server has a tab of its own below the tiles.
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabsBelow"));
    tabs->setCurrentWidget(
        window->findChild<QWidget *>(QStringLiteral("editDatabase"))->parentWidget());
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("База данных"));
    for (const char *name : {"editDatabase", "buttonCheckDatabase", "comboDatabaseTable"})
        QVERIFY2(shownWhole(window.get(), name), name);
}

// A record the full disk did not take stays on its tile and in the red list;
// "Повторить запись" writes it once there is room again.
void TestBenchWindow::unwrittenRecordKeptUntilWritten()
{
    ModemSim *writing = addModem();
    std::unique_ptr<BenchWindow> window = makeWindow();
    const QString journal = mDir->filePath(QStringLiteral("j.csv"));
    QTest::mouseClick(startButton(window.get()), Qt::LeftButton);
    plug(writing, QStringLiteral("1-1"));
    QTRY_VERIFY_WITH_TIMEOUT(writing->dataBytesReceived() > 300, jobMs);
    const QByteArray before = TestSupport::readFile(journal);
    {
        const TestSupport::FileSizeLimit full(before.size());
        QTRY_VERIFY_WITH_TIMEOUT(!window->running(), jobMs); // it stops taking modems
    }
    UnwrittenRecords *unwritten = window->unwritten();
    QCOMPARE(unwritten->count(), 1);
    QVERIFY(unwritten->isVisible());
    QCOMPARE(TestSupport::readFile(journal), before);
    const QModelIndex tile = window->model()->index(0, 0);
    QCOMPARE(tile.data(SocketModel::WarningRole).toString(),
             QStringLiteral("Не записано в журнал: файл достиг предельного размера"));
    auto *list = unwritten->findChild<QListWidget *>(QStringLiteral("listUnwritten"));
    QVERIFY(list->item(0)->text().contains(QStringLiteral(";490154203237518;flash;успех;")));

    auto *retry = unwritten->findChild<QPushButton *>(QStringLiteral("buttonRetry"));
    QVERIFY(retry->isEnabled());
    QTest::mouseClick(retry, Qt::LeftButton);
    QCOMPARE(unwritten->count(), 0);
    QVERIFY(!unwritten->isVisible());
    const QByteArray after = TestSupport::readFile(journal);
    QVERIFY(after.startsWith(before));
    QCOMPARE(after.mid(before.size()).count('\n'), 1);
    QVERIFY(after.mid(before.size()).contains(";490154203237518;flash;успех;"));
}

// "Прошить снова" gives the chosen socket's modem another job (a failed one
// is not retried by itself). Three modems failing in a row take the socket
// out of service, on its tile; "Включить гнездо" takes it back, and the modem
// still in is taken as a new one.
void TestBenchWindow::socketActionsPrepareAgainAndReturnToService()
{
    ModemSim *sim = mBench->addModem("490154203237518");
    sim->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Error, 1));
    std::unique_ptr<BenchWindow> window = makeWindow();
    QTest::mouseClick(startButton(window.get()), Qt::LeftButton);
    plug(sim, QStringLiteral("1-1"));
    QTRY_VERIFY(window->model()->rowCount() == 1);
    const QModelIndex tile = window->model()->index(0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(tile.data(SocketModel::ToneRole).toInt(), int(SocketModel::Bad),
                              jobMs);
    auto *tiles = window->findChild<QListView *>(QStringLiteral("viewTiles"));
    QTest::mouseClick(tiles->viewport(), Qt::LeftButton, {}, tiles->visualRect(tile).center());
    auto *again = window->findChild<QPushButton *>(QStringLiteral("buttonAgain"));
    auto *enable = window->findChild<QPushButton *>(QStringLiteral("buttonEnable"));
    QTRY_VERIFY(again->isEnabled());
    QVERIFY(!enable->isEnabled());
    QTest::mouseClick(again, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(tile.data(SocketModel::ToneRole).toInt(), int(SocketModel::Good),
                              jobMs);

    const QByteArrayList imeis{"356938035643809", "352099001761481", "353918057366146"};
    for (const QByteArray &imei : imeis) {
        sim->takeOut();
        QTest::qWait(fastMs(600));
        mBench->swapIn(sim, imei);
        sim->addFault(ModemFault::onPrefix("at#wscript=\"main.pyo\"", ModemFault::Error));
        QTRY_VERIFY_WITH_TIMEOUT(sim->commands().contains("at#wscript=\"main.pyo\",12859,1"),
                                 jobMs);
    }
    const QString reason = QStringLiteral("Гнездо 1 отключено: 3 ошибки подряд на разных "
                                          "модемах — проверьте кабель и порт хаба");
    QTRY_COMPARE_WITH_TIMEOUT(tile.data(SocketModel::StateTextRole).toString(), reason, jobMs);
    QCOMPARE(tile.data(SocketModel::ToneRole).toInt(), int(SocketModel::Bad));
    QTRY_VERIFY(enable->isEnabled());
    QVERIFY(!again->isEnabled());
    const int commands = sim->commands().size();
    QTest::mouseClick(enable, Qt::LeftButton);
    QVERIFY(!enable->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(sim->commands().size() > commands + 5, jobMs);
    QTRY_VERIFY_WITH_TIMEOUT(tile.data(SocketModel::StateTextRole).toString() != reason, jobMs);
}

// A tile given the number on its hub port's label keeps it in the numbers
// file, moves to its place, and a number another socket has is refused.
void TestBenchWindow::socketGivenAnotherNumber()
{
    ModemSim *first = mBench->addModem("490154203237518");
    ModemSim *second = mBench->addModem("356938035643809");
    std::unique_ptr<BenchWindow> window = makeWindow();
    QTest::mouseClick(startButton(window.get()), Qt::LeftButton);
    plug(first, QStringLiteral("1-1"));
    plug(second, QStringLiteral("1-2"));
    SocketModel *model = window->model();
    QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(), 2, jobMs);
    auto *tiles = window->findChild<QListView *>(QStringLiteral("viewTiles"));
    auto *number = window->findChild<QPushButton *>(QStringLiteral("buttonNumber"));
    const auto renumberFirstTile = [&](int to) {
        const QModelIndex tile = model->index(0, 0);
        QTest::mouseClick(tiles->viewport(), Qt::LeftButton, {}, tiles->visualRect(tile).center());
        QTRY_VERIFY_WITH_TIMEOUT(number->isEnabled(), jobMs); // once its job is over
        TestSupport::ModalCloser closer;
        closer.setInspector([to](QWidget *modal) {
            if (auto *dialog = qobject_cast<QInputDialog *>(modal)) {
                dialog->setIntValue(to);
                dialog->accept();
            }
            return false;
        });
        QTest::mouseClick(number, Qt::LeftButton);
    };
    renumberFirstTile(2);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("labelProblem"))->text(),
             QStringLiteral("Номер 2 уже у другого гнезда"));
    renumberFirstTile(7);
    QCOMPARE(model->index(1, 0).data(SocketModel::NumberRole).toInt(), 7);
    QCOMPARE(model->index(0, 0).data(SocketModel::NumberRole).toInt(), 2);
    const auto numbersFile = [this] {
        QFile file(mDir->filePath(QStringLiteral("j.sockets")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_VERIFY(numbersFile().contains("7;1-1\n") && numbersFile().contains("2;1-2\n"));
}

namespace {
QLabel *databaseNote(QWidget *window)
{
    return window->findChild<QLabel *>(QStringLiteral("labelDatabase"));
}

void checkDatabase(QWidget *window, const QString &conninfo)
{
    window->findChild<QLineEdit *>(QStringLiteral("editDatabase"))->setText(conninfo);
    window->findChild<QPushButton *>(QStringLiteral("buttonCheckDatabase"))->click();
}
} // namespace

// A password is refused before anything is tried; a server that takes no
// connections is said in Russian while the window goes on.
void TestBenchWindow::databaseCheckRefusesPasswordAndSaysWhyServerIsUnreachable()
{
    std::unique_ptr<BenchWindow> window = makeWindow();
    auto *check = window->findChild<QPushButton *>(QStringLiteral("buttonCheckDatabase"));
    checkDatabase(window.get(), QStringLiteral("host=127.0.0.1 dbname=lorta password=secret"));
    QVERIFY2(databaseNote(window.get())->text().startsWith(QStringLiteral("Пароль")),
             qPrintable(databaseNote(window.get())->text()));
    QVERIFY(check->isEnabled()); // nothing was tried

    StallMeter meter;
    meter.start();
    checkDatabase(window.get(), QStringLiteral("host=127.0.0.1 port=1 dbname=lorta user=lorta"));
    QVERIFY(!check->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(check->isEnabled(), 10000);
    QVERIFY2(meter.stop() < 200, qPrintable(QString::number(meter.largestMs())));
    const QString reason = databaseNote(window.get())->text();
    QVERIFY2(reason.contains(QStringLiteral("сервер не принимает соединения")), qPrintable(reason));
    QCOMPARE(window->findChild<QComboBox *>(QStringLiteral("comboDatabaseTable"))->count(), 1);
}

// "Проверить" lists the server's tables with their rows left; a table on the
// server and a table file are never chosen together.
void TestBenchWindow::databaseCheckListsServerTablesAsOneSourceOfRows()
{
    TestSupport::ThrowawayPostgres server;
    QString error;
    if (!server.start(&error))
        QSKIP(qPrintable(error));
    std::unique_ptr<BenchWindow> window = makeWindow();
    auto *check = window->findChild<QPushButton *>(QStringLiteral("buttonCheckDatabase"));
    auto *tables = window->findChild<QComboBox *>(QStringLiteral("comboDatabaseTable"));
    checkDatabase(window.get(), server.conninfo());
    QTRY_VERIFY_WITH_TIMEOUT(check->isEnabled(), 15000);
    QCOMPARE(databaseNote(window.get())->text(), QStringLiteral("База отвечает"));
    QCOMPARE(tables->count(), 1); // the schema is made, with no table yet

    server.exec(
        QStringLiteral("INSERT INTO lorta_table (name) VALUES ('смена-1');"
                       "INSERT INTO lorta_table_row (table_name, row_no, source_file, source_line, "
                       "cells, bound_imei) VALUES ('смена-1', 1, 't.csv', 2, '{}', NULL), "
                       "('смена-1', 2, 't.csv', 3, '{}', '490154203237518')"),
        &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    check->click();
    QTRY_COMPARE_WITH_TIMEOUT(tables->count(), 2, 15000);
    QCOMPARE(tables->itemText(1), QStringLiteral("смена-1 — осталось 1 из 2"));

    const QString table = writeFile(QStringLiteral("table.csv"), "PIN\r\n1234\r\n");
    window->setProvisionFile(table);
    auto *file = window->findChild<QLineEdit *>(QStringLiteral("editProvision"));
    tables->setCurrentIndex(1);
    QVERIFY(file->text().isEmpty());
    QCOMPARE(file->placeholderText(), QStringLiteral("таблица «смена-1» в базе данных"));
    window->setProvisionFile(table);
    QCOMPARE(tables->currentIndex(), 0);
    QVERIFY(!file->placeholderText().contains(QStringLiteral("смена-1")));
}

QTEST_MAIN(TestBenchWindow)
#include "tst_benchwindow.moc"

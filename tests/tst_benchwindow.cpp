// The bench window offscreen over a real watch: a hand-filled port list and
// simulated modems on pseudo-terminals, on the fast timing.
#include "line/socketmodel.h"
#include "modalcloser.h"
#include "modemsim.h"
#include "socketbench.h"
#include "testtiming.h"
#include "ui/benchwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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
    void closingWhileJobsRunAsksOnceAndStopsQuickly();

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
// new modem but lets the running job end green; then everything unlocks.
void TestBenchWindow::controlsLockedWhileRunningAndStopLetsJobsFinish()
{
    ModemSim *writing = addModem();
    writing->setPaced(true);
    ModemSim *late = addModem();
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
    QVERIFY(late->commands().isEmpty());
    QCOMPARE(start->text(), QStringLiteral("Начать"));
    QVERIFY(start->isEnabled() && job->isEnabled() && filter->isEnabled());
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

QTEST_MAIN(TestBenchWindow)
#include "tst_benchwindow.moc"

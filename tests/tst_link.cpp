// The link to the modem end to end: the real window and worker against the
// simulated modem on a pseudo-terminal.
#include "modembench.h"
#include "modemsim.h"
#include "testsupport.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

using TestSupport::WindowDriver;

namespace {
const QString connectedLine = QStringLiteral("Связь с модемом установлена");
const QString noLinkLine =
    QStringLiteral("Нет связи с модемом. Модем не подключен или в модеме выполняется скрипт");
constexpr int linkTimeout = 10000;

int countCommands(const ModemSim &sim, const QByteArray &line)
{
    return sim.commands().count(line);
}
} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openConnectsAndCloseRestores();
    void silentModemIsReportedOnce();
    void runningScriptAndItsStop();
    void failedOpenThenAGoodPort();
    void firstCommandWaitsForTheStartDelay();
    void laterStartReplacesEarlierOne();
    void closingCancelsAPendingStart();
    void reopenedPortMustAnswerFiveTimesAgain();
    void uncheckedBoxStopsThePeriodicCheck();
    void closingTheWindowWhileOpenExitsCleanly();

private:
    void openAndConnect();

    std::unique_ptr<TestSupport::ModemBench> mBench;
    ModemSim *mSim = nullptr;
    MainWindow *mWindow = nullptr;
    WindowDriver *mUi = nullptr;
};

void TestLink::init()
{
    mBench = std::make_unique<TestSupport::ModemBench>();
    mSim = &mBench->sim();
    mSim->setPaced(false);
    mSim->setRestartSilenceMs(300);
    QString error;
    QVERIFY2(mBench->start(&error), qPrintable(error));
    mWindow = mBench->window();
    mUi = mBench->ui();
}

void TestLink::cleanup()
{
    mBench.reset();
}

void TestLink::openAndConnect()
{
    mUi->openButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

void TestLink::openConnectsAndCloseRestores()
{
    openAndConnect();
    QCOMPARE(mUi->logLines(), (QStringList{"Порт открыт", connectedLine}));
    QVERIFY(!mUi->portRow()->isEnabled());
    QVERIFY(!mUi->button("Настройки")->isEnabled());
    QVERIFY(!mUi->button("Очистить модем")->isVisible());
    QVERIFY(mUi->button("Очистить модем")->isEnabled());

    // The connected line is not repeated while the modem keeps answering.
    const int seen = mSim->commands().size();
    QTRY_VERIFY(mSim->commands().size() >= seen + 5);
    QCOMPARE(mUi->countLogLines(connectedLine), 1);

    mUi->closePort();
    QCOMPARE(mUi->openButton()->text(), QStringLiteral("Открыть COM-порт"));
    QVERIFY(mUi->portRow()->isEnabled());
    QVERIFY(mUi->button("Настройки")->isEnabled());
    QVERIFY(mUi->jobButtonsDisabled());
    QVERIFY(!mUi->progress()->isVisible());
    QCOMPARE(mUi->logLines().constLast(), QStringLiteral("Порт закрыт"));

    // Nothing reaches the modem once the port is closed, and no late answer is logged.
    const int atClose = mSim->commands().size();
    QTest::qWait(600);
    QCOMPARE(mSim->commands().size(), atClose);
    QCOMPARE(mUi->logLines().constLast(), QStringLiteral("Порт закрыт"));
}

void TestLink::silentModemIsReportedOnce()
{
    openAndConnect();
    mSim->addFault(ModemFault::onPrefix("ate0", ModemFault::Silence));
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsDisabled(), linkTimeout);
    QTRY_COMPARE(mUi->countLogLines(noLinkLine), 1);
    const int seen = mSim->commands().size();
    QTRY_VERIFY_WITH_TIMEOUT(mSim->commands().size() >= seen + 4, linkTimeout);
    QCOMPARE(mUi->countLogLines(noLinkLine), 1);

    // Answers again: five in a row reconnect.
    mSim->clearFaults();
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
    QCOMPARE(mUi->countLogLines(connectedLine), 2);
}

void TestLink::runningScriptAndItsStop()
{
    mSim->setScriptOutputIntervalMs(300);
    mSim->startScript();
    mUi->openButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(mUi->countLogLines("Выполняется скрипт: v1.08") >= 2, linkTimeout);
    QVERIFY(mUi->jobButtonsDisabled());
    // The no-connection line never follows a running-script line directly.
    const QStringList lines = mUi->logLines();
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY(!(lines[i] == noLinkLine && lines[i - 1].startsWith("Выполняется скрипт: ")));

    mSim->stopScript("Ошибка SIM-карты");
    QTRY_VERIFY_WITH_TIMEOUT(
        mUi->logLines().contains("!!!Остановка выполнения скрипта: Ошибка SIM-карты"), linkTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

void TestLink::failedOpenThenAGoodPort()
{
    const QString good = mSim->portName();
    mUi->openPort("/nonexistent/tty-lorta");
    QTRY_COMPARE(mUi->countLogLines("Ошибка при открытии порта"), 1);
    QVERIFY(!mUi->portOpen());
    mUi->openPort(good);
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
    QCOMPARE(mUi->countLogLines("Ошибка при открытии порта"), 1);
}

void TestLink::firstCommandWaitsForTheStartDelay()
{
    QElapsedTimer clock;
    mUi->openButton()->click();
    QTRY_VERIFY(mUi->portOpen());
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(!mSim->commands().isEmpty(), linkTimeout);
    // The start delay is 450 ms; a coarse timer may fire up to 5% early.
    QVERIFY2(clock.elapsed() >= 420, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(mSim->commands().constFirst(), QByteArray("ate0"));
}

void TestLink::laterStartReplacesEarlierOne()
{
    mSim->setFile("settings.ini", "APN::internet::Точка входа GPRS");
    openAndConnect();
    TestSupport::ModalCloser closer;
    // Clearing leaves the job buttons enabled, so a second job can be asked for at once.
    mUi->button("Очистить модем")->click();
    QVERIFY(mUi->button("Считать настройки")->isEnabled());
    mUi->button("Считать настройки")->click();
    QTRY_VERIFY2_WITH_TIMEOUT(closer.seen().contains("Настройки модема|"),
                              qPrintable(closer.seen().join(";") + mUi->logLines().join(";")),
                              linkTimeout);
    QCOMPARE(countCommands(*mSim, "at#escript=\"\""), 0);
    QCOMPARE(countCommands(*mSim, "at#rscript=\"settings.ini\""), 1);
}

void TestLink::closingCancelsAPendingStart()
{
    mSim->setFile("settings.ini", "APN::internet::Точка входа GPRS");
    openAndConnect();
    mUi->button("Считать настройки")->click();
    mUi->closePort();
    openAndConnect();
    QTest::qWait(600); // past the abandoned start
    QCOMPARE(countCommands(*mSim, "at#rscript=\"settings.ini\""), 0);
}

void TestLink::reopenedPortMustAnswerFiveTimesAgain()
{
    openAndConnect();
    mUi->closePort();
    // After reopening, the modem answers "OK" once and then nothing.
    mSim->addFault(ModemFault::onCommand(mSim->commands().size() + 1, ModemFault::OkWithoutPrompt));
    mSim->addFault(ModemFault::onPrefix("ate0", ModemFault::Silence));
    mUi->openButton()->click();
    QTRY_VERIFY(mUi->portOpen());
    const int seen = mSim->commands().size();
    QTRY_VERIFY_WITH_TIMEOUT(mSim->commands().size() >= seen + 3, linkTimeout);
    QVERIFY(mUi->jobButtonsDisabled());
    QCOMPARE(mUi->countLogLines(connectedLine), 1);
}

void TestLink::uncheckedBoxStopsThePeriodicCheck()
{
    openAndConnect();
    mUi->presenceBox()->setChecked(false);
    QTest::qWait(600); // let a command already handed over be answered
    const int seen = mSim->commands().size();
    QTest::qWait(800);
    QCOMPARE(mSim->commands().size(), seen);
    QVERIFY(mUi->jobButtonsEnabled());
    mUi->presenceBox()->setChecked(true);
    QTRY_VERIFY(mSim->commands().size() > seen);
}

void TestLink::closingTheWindowWhileOpenExitsCleanly()
{
    openAndConnect();
    QTimer::singleShot(0, mWindow, &QWidget::close);
    // The last window closing ends the event loop with its code, without asking.
    QCOMPARE(QCoreApplication::exec(), 0);
    mBench
        ->destroyWindow(); // stops the worker and waits for it; a running QThread would abort here
    const int atExit = mSim->commands().size();
    QTest::qWait(600);
    QCOMPARE(mSim->commands().size(), atExit);
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"

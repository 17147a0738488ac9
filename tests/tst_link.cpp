// The link to the modem end to end: the real window and worker against the
// simulated modem on a pseudo-terminal.
#include "modalcloser.h"
#include "modembench.h"
#include "modemsim.h"
#include "protocol/tooltexts.h"
#include "windowdriver.h"

#include <QElapsedTimer>
#include <QtTest>
#include <memory>

namespace {
const QString connectedLine = ToolText::connected();
const QString noLinkLine = ToolText::noConnection();
constexpr int linkTimeout = 10000;
// Longer than the start delay or a presence command's answer wait, with room to spare.
constexpr int quietMs = 600;
} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void portOpenCloseAndReopen();
    void runningScriptAndItsStop();
    void pendingStartGivesWayToTheNextRequest();
    void uncheckedBoxStopsThePeriodicCheck();

private:
    void openAndConnect();
    int count(const QByteArray &command) const { return mSim->commands().count(command); }

    std::unique_ptr<TestSupport::ModemBench> mBench;
    ModemSim *mSim = nullptr;
    TestSupport::WindowDriver *mUi = nullptr;
};

void TestLink::init()
{
    mBench = std::make_unique<TestSupport::ModemBench>();
    mSim = &mBench->sim();
    mSim->setPaced(false);
    mSim->setRestartSilenceMs(300);
    mSim->setFile("settings.ini", "APN::internet::Точка входа GPRS");
    QString error;
    QVERIFY2(mBench->start(&error), qPrintable(error));
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

// The port's life: open, connect, close; then, after a failed open of another
// port, the reopened one must earn the connection afresh.
void TestLink::portOpenCloseAndReopen()
{
    // The start delay counts from the port's opening, which follows the click.
    QElapsedTimer clock;
    clock.start();
    mUi->openButton()->click();
    QTRY_VERIFY(mUi->portOpen());
    QTRY_VERIFY_WITH_TIMEOUT(!mSim->commands().isEmpty(), linkTimeout);
    // The start delay is 450 ms; a coarse timer may fire up to 5% early.
    QVERIFY2(clock.elapsed() >= 420, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(mSim->commands().constFirst(), QByteArray("ate0"));
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
    QCOMPARE(mUi->logLines(), (QStringList{ToolText::portOpened(), connectedLine}));
    QVERIFY(!mUi->portList()->parentWidget()->isEnabled());
    QVERIFY(!mUi->button(ToolText::settingsButton())->isEnabled());
    QVERIFY(!mUi->button(ToolText::clearButton())->isVisible());
    QVERIFY(mUi->button(ToolText::clearButton())->isEnabled());

    // The connected line is not repeated while the modem keeps answering.
    const int seen = mSim->commands().size();
    QTRY_VERIFY(mSim->commands().size() >= seen + 5);
    QCOMPARE(mUi->countLogLines(connectedLine), 1);

    mUi->closePort();
    QVERIFY(!mUi->portOpen());
    QVERIFY(mUi->portList()->parentWidget()->isEnabled());
    QVERIFY(mUi->button(ToolText::settingsButton())->isEnabled());
    QVERIFY(mUi->jobButtonsDisabled());
    // Nothing reaches the modem once the port is closed, and no late answer is logged.
    const int atClose = mSim->commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(mSim->commands().size(), atClose);
    QCOMPARE(mUi->logLines().constLast(), ToolText::portClosed());

    mUi->openPort("/nonexistent/tty-lorta");
    QTRY_COMPARE(mUi->countLogLines(ToolText::portOpenFailed()), 1);
    QVERIFY(!mUi->portOpen());
    // After reopening, the modem answers "OK" once and then nothing.
    mSim->addFault(ModemFault::onCommand(atClose + 1, ModemFault::OkWithoutPrompt));
    mSim->addFault(ModemFault::onPrefix("ate0", ModemFault::Silence));
    mUi->openPort(mSim->portName());
    QTRY_VERIFY(mUi->portOpen());
    QTRY_VERIFY_WITH_TIMEOUT(mSim->commands().size() >= atClose + 3, linkTimeout);
    QVERIFY(mUi->jobButtonsDisabled());
    QCOMPARE(mUi->countLogLines(connectedLine), 1);
}

void TestLink::runningScriptAndItsStop()
{
    // The stop goes out right after a script line is shown; with a second
    // between script lines no later one can share the stop's read (a read that
    // holds a script line is shown as that line).
    mSim->setScriptOutputIntervalMs(1000);
    mSim->startScript();
    mUi->openButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(mUi->countLogLines("Выполняется скрипт: v1.08") >= 2, linkTimeout);
    QVERIFY(mUi->jobButtonsDisabled());
    // The no-connection line never follows a running-script line directly.
    const QStringList lines = mUi->logLines();
    for (int i = 1; i < lines.size(); ++i)
        QVERIFY(
            !(lines[i] == noLinkLine && lines[i - 1].startsWith(ToolText::scriptRunningPrefix())));

    mSim->stopScript("Ошибка SIM-карты");
    QTRY_VERIFY_WITH_TIMEOUT(
        mUi->logLines().contains("!!!Остановка выполнения скрипта: Ошибка SIM-карты"), linkTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

// A job start still waiting out its delay is dropped when the port closes, and
// replaced when another job is asked for.
void TestLink::pendingStartGivesWayToTheNextRequest()
{
    TestSupport::ModalCloser closer;
    openAndConnect();
    mUi->button(ToolText::readButton())->click();
    mUi->closePort();
    openAndConnect();
    // Clearing leaves the job buttons enabled, so a second job can be asked for at once.
    mUi->button(ToolText::clearButton())->click();
    mUi->button(ToolText::readButton())->click();
    QTRY_COMPARE_WITH_TIMEOUT(
        closer.seen(), QStringList{ToolText::settingsTitle() + QLatin1Char('|')}, linkTimeout);
    QCOMPARE(count("at#escript=\"\""), 0);
    QCOMPARE(count("at#rscript=\"settings.ini\""), 1);
}

void TestLink::uncheckedBoxStopsThePeriodicCheck()
{
    openAndConnect();
    mUi->presenceBox()->setChecked(false);
    QTest::qWait(quietMs); // let a command already handed over be answered
    const int seen = mSim->commands().size();
    QTest::qWait(800);
    QCOMPARE(mSim->commands().size(), seen);
    QVERIFY(mUi->jobButtonsEnabled());
    mUi->presenceBox()->setChecked(true);
    QTRY_VERIFY(mSim->commands().size() > seen);
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"

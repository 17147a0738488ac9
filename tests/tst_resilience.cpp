// Faults of the bench itself, through the real window and worker against the
// paced simulated modem: the port closed or the line lost in the middle of a
// file's bytes, a disk that takes no more bytes ("Применить" on a full disk
// is the dialog's failed save, with the writer's own full-disk cases), and a
// script that floods the line. The window and the modem run on the fast timing.
#include "filesizelimit.h"
#include "log/logcomposer.h"
#include "modalcloser.h"
#include "modembench.h"
#include "modemsim.h"
#include "protocol/tooltexts.h"
#include "settings/settingsfile.h"
#include "testtiming.h"
#include "windowdriver.h"

#include <QElapsedTimer>
#include <QtTest>
#include <algorithm>

using TestSupport::fastMs;
using TestSupport::FileSizeLimit;
using TestSupport::ModalCloser;
using TestSupport::readFile;
using TestSupport::schedulingSlackMs;

namespace {
constexpr int linkTimeout = 15000;
constexpr int jobTimeout = 60000;
const QByteArray oldSettings = "APN::old::d";
const QString saveFailure =
    QStringLiteral("Ошибка|Не удалось открыть файл settings.ini и сохранить настройки");

} // namespace

class TestResilience : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fileCutShort_data();
    void fileCutShort();
    void readSettingsOnAFullDisk();
    void floodingScript();

private:
    void connect();
    QString trace() const { return TestSupport::trace(*mSim, *mUi, *mCloser); }

    std::unique_ptr<TestSupport::ModemBench> mBench;
    ModemSim *mSim = nullptr;
    TestSupport::WindowDriver *mUi = nullptr;
    std::unique_ptr<ModalCloser> mCloser;
};

void TestResilience::init()
{
    mBench = std::make_unique<TestSupport::ModemBench>(TestSupport::fastScale);
    mSim = &mBench->sim();
    mSim->setRestartSilenceMs(300);
    mSim->setFile("settings.ini", defaultSettings().join("\r\n").toUtf8());
    QString error;
    QVERIFY2(mBench->start(&error), qPrintable(error));
    mUi = mBench->ui();
    mCloser = std::make_unique<ModalCloser>();
}

void TestResilience::cleanup()
{
    mCloser.reset();
    mBench.reset();
}

void TestResilience::connect()
{
    mUi->openButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

// Closing is prompt in every state, the cut exchange never reaches a job and
// nothing more goes to the modem; a lost line fails the job at once, and the
// operator can then close the port and open another.
void TestResilience::fileCutShort_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("port closed") << "close port";
    QTest::newRow("window closed") << "close window";
    QTest::newRow("line lost") << "hang up";
}

void TestResilience::fileCutShort()
{
    QFETCH(QString, fault);
    connect();
    mUi->button(ToolText::flashButton())->click();
    QTRY_VERIFY2_WITH_TIMEOUT(mSim->dataBytesReceived() > 1000, qPrintable(trace()), jobTimeout);
    const int commands = mSim->commands().size();
    QElapsedTimer clock;
    clock.start();
    if (fault == QLatin1String("close window")) {
        mBench->destroyWindow();
        QVERIFY2(clock.elapsed() < fastMs(1000) + schedulingSlackMs,
                 qPrintable(QString::number(clock.elapsed())));
    } else if (fault == QLatin1String("close port")) {
        mUi->closePort();
        QVERIFY2(clock.elapsed() < fastMs(500) + schedulingSlackMs,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(mUi->logLines().constLast(), ToolText::portClosed());
        QTest::qWait(fastMs(500));
        QCOMPARE(mUi->logLines().constLast(), ToolText::portClosed());
    } else {
        mSim->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!mCloser->seen().isEmpty(), fastMs(1000) + schedulingSlackMs);
        QCOMPARE(mCloser->seen(), QStringList{ToolText::failureTitle() + QLatin1Char('|') +
                                              ToolText::flashFailed()});
        QTRY_VERIFY_WITH_TIMEOUT(mUi->countLogLines(ToolText::noConnection()) == 1, linkTimeout);
        mUi->closePort();
        QCOMPARE(mUi->logLines().constLast(), ToolText::portClosed());
        mSim->stop();
        QString error;
        QVERIFY2(mSim->start(&error), qPrintable(error));
        mUi->openPort(mSim->portName());
        QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
        return;
    }
    QVERIFY(mCloser->seen().isEmpty());
    QCOMPARE(mSim->commands().size(), commands);
    QVERIFY(!mSim->hasFile("main.pyo"));
}

// "Считать настройки" on a full disk: an error, no dialog, and the old file kept.
void TestResilience::readSettingsOnAFullDisk()
{
    QVERIFY(TestSupport::writeFile("settings.ini", oldSettings));
    connect();
    FileSizeLimit disk(oldSettings.size() + 10);
    mUi->button(ToolText::readButton())->click();
    QTRY_VERIFY2_WITH_TIMEOUT(!mCloser->seen().isEmpty(), qPrintable(trace()), jobTimeout);
    QCOMPARE(mCloser->seen(), QStringList{saveFailure});
    QVERIFY(mUi->logLines().contains(saveFailure.section('|', 1)));
    QCOMPARE(readFile("settings.ini"), oldSettings);
    QTRY_VERIFY_WITH_TIMEOUT(mUi->jobButtonsEnabled(), linkTimeout);
}

// A running script that prints "Stop Script: " and 4 KB without a line break every 10 ms:
// each log line holds at most 1,000 characters of it, and closing the port and the window
// stay prompt.
void TestResilience::floodingScript()
{
    mSim->setPaced(false);
    connect();
    mSim->setScriptOutput("Stop Script: " + QByteArray("line noise ").repeated(400).left(4096));
    // Every 10 ms of the test's own time, as fast as at real time.
    mSim->setScriptOutputIntervalMs(10 * TestSupport::fastScale);
    mSim->startScript();
    const QString stop = ToolText::scriptStopPrefix();
    const auto stopLines = [&] { return mUi->logLines().filter(stop).size(); };
    QTRY_VERIFY2_WITH_TIMEOUT(stopLines() >= 20, qPrintable(trace()), linkTimeout);
    int longest = 0;
    for (const QString &line : mUi->logLines())
        longest = std::max(longest, int(line.size()));
    QVERIFY2(longest <= stop.size() + LogComposer::maxReceivedCharacters + 1,
             qPrintable(QString::number(longest)));

    QElapsedTimer clock;
    clock.start();
    mUi->closePort();
    QVERIFY2(clock.elapsed() < fastMs(500) + schedulingSlackMs,
             qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(mUi->logLines().constLast(), ToolText::portClosed());
    mUi->openPort(mSim->portName());
    const int before = stopLines();
    QTRY_VERIFY2_WITH_TIMEOUT(stopLines() > before + 5, qPrintable(trace()), linkTimeout);
    clock.restart();
    mBench->destroyWindow();
    QVERIFY2(clock.elapsed() < fastMs(1000) + schedulingSlackMs,
             qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(TestResilience)
#include "tst_resilience.moc"

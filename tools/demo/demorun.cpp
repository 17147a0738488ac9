#include "demorun.h"

#include "console.h"
#include "logecho.h"
#include "modalcloser.h"
#include "modemreport.h"
#include "oldmodem.h"
#include "protocol/jobsteps.h"
#include "protocol/tooltexts.h"
#include "settings/settingsfile.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>
#include <algorithm>

namespace {
constexpr int pollMs = 50;
constexpr int modalDwellMs = 1000; // long enough to read a box on a live display
constexpr int viewerPauseMs = 700; // lets a live viewer see each state before it changes
constexpr int exposeWaitMs = 5000;
constexpr int openWaitMs = 10000;
constexpr int linkWaitMs = 20000;
constexpr int scriptWaitMs = 30000;
constexpr int dialogWaitMs = 15000;
constexpr int heartbeatMs = 10000;

} // namespace

DemoRun::DemoRun(const DemoOptions &options)
    : mOptions(options), mDeadline(qint64(options.timeoutS) * 1000), mShots(options.shotsFolder),
      mSim(mBench.sim())
{
}

// The log echo before the window it reads; the bench then closes the window
// (its destructor stops the serial worker), stops the modem and goes back to
// the old working directory.
DemoRun::~DemoRun()
{
    mModals.reset();
    mLogEcho.reset();
    mBench.destroyWindow();
}

int DemoRun::exec()
{
    narrate(QStringLiteral("lorta-demo: a complete flash through the real window of "
                           "Flash ЛОРТА-МОДЕМ, against a simulated modem"));
    bool ok = setUp() && startModem() && showWindow() && openPort() && waitForLink() && flash();
    if (ok) {
        waitForScript();
        ok = closePort() && showSettingsDialog();
    }
    if (mSim.isRunning())
        ok = checkModem() && ok;
    if (ok) {
        narrate(QStringLiteral("RESULT: success: the flash ended in \"Модем прошит\", the "
                               "modem holds both scripts byte for byte and kept its "
                               "settings"));
        return 0;
    }
    Console::warn(QStringLiteral("lorta-demo: FAILED: ") + mFailure);
    return 1;
}

bool DemoRun::setUp()
{
    if (mBench.dir().isEmpty())
        return fail(QStringLiteral("cannot create a temporary working directory"));
    if (!mShots.ready())
        return fail(QStringLiteral("cannot create the screenshot folder ") + mShots.folder());
    if (mShots.enabled())
        narrate(QStringLiteral("Screenshots go to ") + mShots.folder());
    // The tool keeps its local files ("setting", "settings.ini") in its working
    // directory, which the bench has made its temporary one.
    if (!writeLinesToFile(QStringLiteral("settings.ini"), defaultSettings()))
        return fail(QStringLiteral("cannot write settings.ini into ") + mBench.dir());
    narrate(QStringLiteral("Working directory %1: the local settings.ini holds the "
                           "tool's default settings")
                .arg(mBench.dir()));
    return true;
}

bool DemoRun::startModem()
{
    mSim.setPaced(mOptions.paced);
    mSim.setTrafficLog(mModemEcho.trafficLog());
    OldModem::preload(mSim);
    QString error;
    if (!mSim.start(&error))
        return fail(QStringLiteral("the simulated modem did not start: ") + error);
    narrate(QStringLiteral("Simulated modem on %1, line %2; it holds:")
                .arg(mSim.portName(), mOptions.paced ? QStringLiteral("paced at 9600 bit/s")
                                                     : QStringLiteral("not paced")));
    printModemFiles();
    return true;
}

bool DemoRun::showWindow()
{
    mModals = std::make_unique<TestSupport::ModalCloser>(pollMs);
    mModals->setDwell(modalDwellMs);
    mModals->setInspector([this](QWidget *modal) {
        onModal(modal);
        return true;
    });
    mBench.showWindow();
    mWindow = mBench.window();
    mControls = mBench.ui();
    mLogEcho = std::make_unique<LogEcho>(mControls->log()->document());
    narrate(QStringLiteral("Showing the main window (Qt platform \"%1\"); its log pane "
                           "follows as \"log |\", what the modem receives as \"modem <-\"")
                .arg(QGuiApplication::platformName()));
    waitUntil([this] { return mWindow->windowHandle() && mWindow->windowHandle()->isExposed(); },
              exposeWaitMs);
    pause(viewerPauseMs);
    mShots.save(mWindow, QStringLiteral("1-port-closed.png"),
                QStringLiteral("the window at start, port closed"));
    return true;
}

bool DemoRun::openPort()
{
    const QString port = mSim.portName();
    narrate(QStringLiteral("Opening the simulated modem's port %1: choosing it in the port "
                           "list and pressing \"Открыть COM-порт\"")
                .arg(port));
    mControls->portList()->setCurrentText(port);
    QPushButton *open = mControls->button(ToolText::openPortButton());
    if (!open)
        return fail(QStringLiteral("the window has no button \"Открыть COM-порт\""));
    open->click();
    const QString openError = ToolText::portOpenFailed();
    if (!waitUntil([&] { return mControls->portOpen() || mControls->countLogLines(openError) > 0; },
                   openWaitMs) ||
        !mControls->portOpen())
        return fail(QStringLiteral("the tool did not open ") + port);
    return true;
}

bool DemoRun::waitForLink()
{
    narrate(QStringLiteral("Waiting for the presence check: the tool sends \"ate0\" four "
                           "times a second and enables its job buttons after five answers "
                           "with OK in a row"));
    const QString linked = ToolText::connected();
    if (!waitUntil(
            [&] { return mControls->jobButtonsEnabled() && mControls->countLogLines(linked) > 0; },
            linkWaitMs))
        return fail(QStringLiteral("the job buttons did not come on (no \"%1\")").arg(linked));
    pause(viewerPauseMs);
    mShots.save(mWindow, QStringLiteral("2-connected.png"),
                QStringLiteral("modem connected, job buttons enabled"));
    return true;
}

bool DemoRun::flash()
{
    narrate(QStringLiteral("Pressing \"Прошить\": the tool restarts the modem, lists and "
                           "deletes its scripts, writes main.pyo and config.pyo, keeps the "
                           "modem's settings.ini and starts main.pyo"));
    QPushButton *flashButton = mControls->button(ToolText::flashButton());
    if (!flashButton || !flashButton->isEnabled())
        return fail(QStringLiteral("the button \"Прошить\" is missing or disabled"));
    flashButton->click();
    QProgressBar *progress = mControls->progress();
    if (!progress->isVisible() || mControls->jobButtonsEnabled())
        return fail(QStringLiteral("pressing \"Прошить\" did not start the job"));
    waitUntil(
        [&] {
            return boxSeen() ||
                   (progress->value() == JobStep::Transfer && mSim.dataBytesReceived() > 0);
        },
        mDeadline.remainingTime());
    if (!boxSeen())
        mShots.save(mWindow, QStringLiteral("3-flashing.png"),
                    QStringLiteral("flash under way, the files going over"));
    return waitForFlashEnd();
}

bool DemoRun::waitForFlashEnd()
{
    QElapsedTimer clock;
    clock.start();
    while (!waitUntil([this] { return boxSeen(); }, heartbeatMs)) {
        if (mDeadline.hasExpired())
            return fail(QStringLiteral("the flash did not end: no message box"));
        narrate(QStringLiteral("  ... %1 s into the job; the modem has taken %2 file bytes")
                    .arg(clock.elapsed() / 1000)
                    .arg(mSim.dataBytesReceived()));
    }
    const QString expected = ToolText::successTitle() + QLatin1Char('|') + ToolText::flashed();
    if (jobBox() != expected)
        return fail(QStringLiteral("the flash ended with the box \"%1\", not \"%2\"")
                        .arg(jobBox(), expected));
    if (!waitUntil([this] { return !mControls->progress()->isVisible(); }, openWaitMs))
        return fail(QStringLiteral("the progress bar stayed after the job"));
    return true;
}

void DemoRun::waitForScript()
{
    narrate(QStringLiteral("Waiting for the presence check to report the new main.pyo "
                           "running (its version in the log)"));
    const bool seen = waitUntil(
        [this] {
            const QStringList lines = mControls->logLines();
            return std::any_of(lines.cbegin(), lines.cend(), [](const QString &line) {
                return line.startsWith(ToolText::scriptRunningPrefix());
            });
        },
        scriptWaitMs);
    if (!seen)
        narrate(QStringLiteral("Note: no \"%1\" line in the log after %2 s")
                    .arg(ToolText::scriptRunningPrefix().trimmed())
                    .arg(scriptWaitMs / 1000));
    pause(viewerPauseMs);
    mShots.save(mWindow, QStringLiteral("5-script-running.png"),
                QStringLiteral("after the flash, the new script running"));
}

bool DemoRun::closePort()
{
    narrate(QStringLiteral("Closing the port: pressing \"Закрыть COM-порт\""));
    QPushButton *close = mControls->button(ToolText::closePortButton());
    if (!close)
        return fail(QStringLiteral("the window has no button \"Закрыть COM-порт\""));
    close->click();
    if (!waitUntil([this] { return !mControls->portOpen(); }, openWaitMs))
        return fail(QStringLiteral("the port did not close"));
    return true;
}

bool DemoRun::showSettingsDialog()
{
    narrate(QStringLiteral("Pressing \"Настройки\": the settings dialog on the local "
                           "settings.ini"));
    QPushButton *settings = mControls->button(ToolText::settingsButton());
    if (!settings || !settings->isEnabled())
        return fail(QStringLiteral("the button \"Настройки\" is missing or disabled"));
    const int before = mModals->seen().size();
    // The click runs the dialog modally and returns only once it is closed;
    // clicked from the event loop, the wait below is still there to see it end.
    QTimer::singleShot(0, settings, &QPushButton::click);
    if (!waitUntil([&] { return mModals->seen().size() > before; }, dialogWaitMs))
        return fail(QStringLiteral("the settings dialog did not open"));
    if (mModals->seen().constLast() != ToolText::settingsTitle() + QLatin1Char('|'))
        return fail(QStringLiteral("\"Настройки\" opened \"%1\"").arg(mModals->seen().constLast()));
    return true;
}

bool DemoRun::checkModem()
{
    mModemEcho.flush();
    const ModemReport report(mSim);
    narrate(QStringLiteral("What the simulated modem holds now:"));
    printModemFiles();
    narrate(report.scriptLine());
    const QStringList faults = report.faults();
    if (!faults.isEmpty())
        return fail(QStringLiteral("the modem: ") + faults.join(QStringLiteral("; ")));
    return true;
}

void DemoRun::onModal(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        narrate(QStringLiteral("Message box \"%1\": %2").arg(box->windowTitle(), box->text()));
        if (box->text() == ToolText::flashed())
            mShots.save(box, QStringLiteral("4-flashed-box.png"),
                        QStringLiteral("the box at the end of the flash"));
        narrate(QStringLiteral("Closing the box: Ok"));
        return;
    }
    narrate(QStringLiteral("Dialog \"%1\" is open").arg(modal->windowTitle()));
    mShots.save(modal, QStringLiteral("6-settings-dialog.png"),
                QStringLiteral("the settings dialog"));
    narrate(QStringLiteral("Closing the dialog without saving"));
}

// "title|text" of the first box that ended a job, empty while none has.
QString DemoRun::jobBox() const
{
    const QStringList seen = mModals->seen();
    for (const QString &entry : seen) {
        if (entry.startsWith(ToolText::successTitle() + QLatin1Char('|')) ||
            entry.startsWith(ToolText::failureTitle() + QLatin1Char('|')))
            return entry;
    }
    return QString();
}

bool DemoRun::boxSeen() const
{
    return !jobBox().isEmpty();
}

void DemoRun::printModemFiles() const
{
    const QStringList lines = ModemReport(mSim).fileLines();
    for (const QString &line : lines)
        narrate(line);
}

// Runs the event loop until done() holds, for at most maxMs and never past the
// run's deadline. Timers and the worker's answers keep being served meanwhile.
bool DemoRun::waitUntil(const std::function<bool()> &done, qint64 maxMs)
{
    const qint64 left = mDeadline.remainingTime();
    return QTest::qWaitFor(done, int(left < 0 ? maxMs : std::min(maxMs, left)));
}

// Lines of the log pane come first: the narration follows what the window shows.
void DemoRun::narrate(const QString &line) const
{
    if (mLogEcho)
        mLogEcho->flush();
    Console::say(line);
}

void DemoRun::pause(int ms)
{
    waitUntil([] { return false; }, ms);
}

bool DemoRun::fail(const QString &reason)
{
    if (mFailure.isEmpty()) {
        mFailure = reason;
        if (mDeadline.hasExpired())
            mFailure += QStringLiteral(" (the time limit of %1 s ran out)").arg(mOptions.timeoutS);
    }
    return false;
}

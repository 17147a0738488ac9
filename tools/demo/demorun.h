#pragma once

#include "demooptions.h"
#include "modembench.h"
#include "modemecho.h"
#include "modemsim.h"
#include "screenshots.h"

#include <QDeadlineTimer>
#include <QString>
#include <functional>
#include <memory>

class LogEcho;
class MainWindow;
class QWidget;
namespace TestSupport {
class ModalCloser;
class WindowDriver;
} // namespace TestSupport

// One complete flash as an operator does it, through the real window and the
// real serial worker, against the simulated modem on a pseudo-terminal; told
// step by step on the terminal, with screenshots when asked for. The steps
// run one after another and wait on the event loop; the modal boxes are
// answered by the test kit's ModalCloser from inside their own event loops.
class DemoRun
{
public:
    explicit DemoRun(const DemoOptions &options);
    ~DemoRun();
    DemoRun(const DemoRun &) = delete;
    DemoRun &operator=(const DemoRun &) = delete;

    // 0 when the flash ended in "Модем прошит" and the modem holds what it
    // should; 1 otherwise, after saying why.
    int exec();

private:
    bool setUp();
    bool startModem();
    bool showWindow();
    bool openPort();
    bool waitForLink();
    bool flash();
    bool waitForFlashEnd();
    void waitForScript();
    bool closePort();
    bool showSettingsDialog();
    bool checkModem();

    void onModal(QWidget *modal);
    QString jobBox() const;
    bool boxSeen() const;
    void printModemFiles() const;
    bool waitUntil(const std::function<bool()> &done, qint64 maxMs);
    void narrate(const QString &line) const;
    void pause(int ms);
    bool fail(const QString &reason);

    DemoOptions mOptions;
    QDeadlineTimer mDeadline;
    Screenshots mShots;
    ModemEcho mModemEcho; // outlives the modem, whose thread posts to it
    TestSupport::ModemBench mBench;
    ModemSim &mSim;
    MainWindow *mWindow = nullptr;
    TestSupport::WindowDriver *mControls = nullptr;
    std::unique_ptr<LogEcho> mLogEcho;
    std::unique_ptr<TestSupport::ModalCloser> mModals;
    QString mFailure;
};

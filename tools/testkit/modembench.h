#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

class MainWindow;
class ModemSim;

namespace TestSupport {

class WindowDriver;

// The bench of an end-to-end test: a temporary working directory (the tool's
// local files land there), a simulated modem on a pseudo-terminal, and the
// real window offering that modem's port. Configure the modem, then start().
// With a time scale the window's waits are that many times shorter and the
// modem that many times faster (see testtiming.h).
class ModemBench
{
public:
    explicit ModemBench(int timeScale = 1);
    ~ModemBench(); // the window (and its worker) first, then the modem

    ModemBench(const ModemBench &) = delete;
    ModemBench &operator=(const ModemBench &) = delete;

    ModemSim &sim() { return *mSim; }
    // Starts the modem and shows the window; false with the reason on failure.
    bool start(QString *error);
    // Shows the window alone, for a modem started by the caller.
    void showWindow();
    QString dir() const { return mDir.path(); }
    MainWindow *window() { return mWindow.get(); }
    WindowDriver *ui() { return mUi.get(); }
    // Closes the window as the process would at exit: the worker is stopped and joined.
    void destroyWindow();

private:
    int mTimeScale;
    QString mOldDir;
    QTemporaryDir mDir;
    std::unique_ptr<ModemSim> mSim;
    std::unique_ptr<MainWindow> mWindow;
    std::unique_ptr<WindowDriver> mUi;
};

class ModalCloser;

// A file's bytes, or an empty array when it cannot be read.
QByteArray readFile(const QString &name);
bool writeFile(const QString &name, const QByteArray &bytes);

// What the modem was told and what the operator saw, for a failure message.
QString trace(const ModemSim &sim, const WindowDriver &ui, const ModalCloser &closer);

} // namespace TestSupport

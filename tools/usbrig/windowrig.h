#pragma once

#include "hostlink.h"
#include "modalcloser.h"
#include "stallmeter.h"

#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <memory>

class MainWindow;

namespace TestSupport {
class WindowDriver;
}

// The window's part of the USB rig, run inside the guest on the offscreen
// platform: the real window on the real serial ports of Linux's ftdi_sio. The
// host pulls and plugs the adapter with the given USB serial number when this
// asks it to (or, for the pull during a flash, when the modem takes main.pyo),
// and this reports one RESULT line per check and FIGURE lines on stdout.
class WindowRig
{
public:
    WindowRig(const QString &folder, const QString &serial);
    ~WindowRig();

    int exec();

private:
    bool pullDuringFlash();
    bool pullWhileConnected(const QString &letter, const QString &when, bool afterJob);
    bool flashAfterReplug();

    bool openAdapterPort(int waitMs);
    bool closeAndRefresh(qint64 *closeMs, qint64 *refreshMs, qint64 *stallMs);
    bool askHost(const QString &request, int waitMs);
    bool waitFor(const std::function<bool()> &condition, int waitMs);
    QString adapterPort() const;
    void result(const QString &letter, bool ok, const QString &text);
    void figure(const QString &name, qint64 value) const;
    void printLog();

    QString mFolder;
    QString mSerial;
    HostLink mHost;
    QString mOldDir;
    std::unique_ptr<MainWindow> mWindow;
    std::unique_ptr<TestSupport::WindowDriver> mUi;
    TestSupport::ModalCloser mModals;
    StallMeter mStalls{5}; // the guest runs ten times slower: a coarser probe
    int mFailures = 0;
    int mLogShown = 0;
};

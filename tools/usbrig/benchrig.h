#pragma once

#include "hostlink.h"
#include "modalcloser.h"
#include "stallmeter.h"

#include <QMap>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class BenchWindow;

// The bench window's part of the USB rig, run inside the guest on the offscreen
// platform: the real window watching the real serial ports of Linux's ftdi_sio.
// It starts the watch, tells the host, and follows the tiles while the host plugs
// and pulls adapters: the moment a tile turns red goes to the host at once (the
// host times it from its pull), and once the host has made its last plug and the
// expected tiles are all green, it stops the watch and reports one RESULT line,
// the tiles and FIGURE lines on stdout.
class BenchRig
{
public:
    BenchRig(const QString &folder, const QString &settingsFile, int tiles);
    ~BenchRig();

    int exec();

private:
    bool start();
    void noteTiles();
    bool stop();
    int countTone(int tone) const;
    QString tileText(int row) const;
    bool waitFor(const std::function<bool()> &condition, int waitMs);
    void figure(const QString &name, qint64 value) const;

    QString mFolder;
    QString mSettingsFile;
    int mTiles;
    HostLink mHost;
    std::unique_ptr<BenchWindow> mWindow;
    TestSupport::ModalCloser mModals;
    StallMeter mStalls{5}; // the guest runs ten times slower: a coarser probe
    QTimer mTimerNote;
    QStringList mRed;               // each tile that turned red, as it was then
    QMap<int, QStringList> mStates; // each socket's states in the order shown
};

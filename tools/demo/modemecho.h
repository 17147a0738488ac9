#pragma once

#include "modemsim.h"

#include <QByteArray>
#include <QObject>

// Prints what the simulated modem receives: each command line, and the bytes
// of each file write as one "[N file bytes]" line. A line repeated back to back
// (the presence check's "ate0" four times a second) is printed once, and its
// count follows when something else arrives.
class ModemEcho : public QObject
{
    Q_OBJECT

public:
    explicit ModemEcho(QObject *parent = nullptr);

    // For ModemSim::setTrafficLog. Runs on the sim's thread and only posts the
    // line to this object's thread, so the echo must outlive the running sim.
    ModemSim::TrafficLog trafficLog();
    // Prints the count of a repeat still open.
    void flush();

private:
    void print(const QByteArray &line);

    QByteArray mLastLine;
    int mRepeats = 0;
};

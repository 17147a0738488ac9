#pragma once

#include <QProcess>
#include <QStringList>
#include <memory>
#include <vector>

// Simulated modems as processes of their own (lorta-modem-sim --demo): their
// work never counts as the measured process's CPU.
class ModemFarm
{
public:
    // arguments are added to --demo; with a log folder each modem prints its
    // traffic (--log) to a file there, read by commandSeen().
    bool start(const QString &simulator, int count, const QStringList &arguments = {},
               const QString &logFolder = QString());
    ~ModemFarm();
    const QStringList &ports() const { return mPorts; }
    // Whether modem i has received a command, from its traffic log.
    bool commandSeen(int i) const;

private:
    std::vector<std::unique_ptr<QProcess>> mProcesses;
    QStringList mPorts;
    QStringList mLogs;
};

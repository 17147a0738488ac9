#pragma once

#include <QByteArray>
#include <QStringList>

class ModemSim;

// Tells what the simulated modem holds, file by file, and whether it is what a
// good flash leaves behind: the tool's two scripts byte for byte, the modem's
// own settings kept, nothing else, and main.pyo selected and running.
class ModemReport
{
public:
    explicit ModemReport(const ModemSim &sim);

    QStringList fileLines() const; // one line per file: name, size, what it is
    QString scriptLine() const;
    QStringList faults() const; // empty when the modem holds what it should

private:
    QString describe(const QByteArray &name, const QByteArray &bytes) const;

    const ModemSim &mSim;
};

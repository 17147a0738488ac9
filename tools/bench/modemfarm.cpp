#include "modemfarm.h"

#include <QDir>
#include <QFile>

namespace {
constexpr int simStartMs = 5000;
}

bool ModemFarm::start(const QString &simulator, int count, const QStringList &arguments,
                      const QString &logFolder)
{
    for (int i = 0; i < count; ++i) {
        auto process = std::make_unique<QProcess>();
        process->setProgram(simulator);
        QStringList all{QStringLiteral("--demo")};
        all << arguments;
        if (logFolder.isEmpty()) {
            process->setStandardErrorFile(QProcess::nullDevice());
        } else {
            all << QStringLiteral("--log");
            mLogs << QDir(logFolder).filePath(QStringLiteral("modem%1.log").arg(i));
            process->setStandardErrorFile(mLogs.back());
        }
        process->setArguments(all);
        process->start();
        if (!process->waitForReadyRead(simStartMs))
            return false;
        mPorts << QString::fromUtf8(process->readLine()).trimmed();
        mProcesses.push_back(std::move(process));
    }
    return true;
}

ModemFarm::~ModemFarm()
{
    for (auto &process : mProcesses) {
        process->terminate();
        process->waitForFinished(simStartMs);
    }
}

// The log's lines from the host start with "<<".
bool ModemFarm::commandSeen(int i) const
{
    QFile log(mLogs.value(i));
    return log.open(QIODevice::ReadOnly) && log.readAll().contains("<<");
}

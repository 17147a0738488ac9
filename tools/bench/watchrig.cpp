#include "watchrig.h"

#include "eventwait.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <sys/resource.h>

namespace {
const QByteArray settingsText = "APN::bench.apn::Точка входа GPRS\r\n";
}

bool WatchRig::start(Modems modems)
{
    QFile settings(settingsFile());
    if (!mDir.isValid() || !settings.open(QIODevice::WriteOnly) ||
        settings.write(settingsText) != settingsText.size())
        return false;
    const QStringList arguments =
        modems == Modems::Silent
            ? QStringList{QStringLiteral("--no-pacing"), QStringLiteral("--script-running")}
            : QStringList{};
    return mFarm.start(mSimulator, sockets, arguments, mDir.path());
}

void WatchRig::plugAll()
{
    for (int i = 0; i < sockets; ++i)
        mBench.plugPort(mFarm.ports().at(i), QStringLiteral("1-1.%1").arg(i + 1));
    mSincePlug.start();
}

std::vector<qint64> WatchRig::waitForFirstCommands(int timeoutMs)
{
    std::vector<qint64> firstCommandMs(sockets, -1);
    TestSupport::waitServingEvents(
        [&] {
            for (int i = 0; i < sockets; ++i) {
                if (firstCommandMs[i] < 0 && mFarm.commandSeen(i))
                    firstCommandMs[i] = mSincePlug.elapsed();
            }
            return std::none_of(firstCommandMs.begin(), firstCommandMs.end(),
                                [](qint64 ms) { return ms < 0; });
        },
        timeoutMs);
    std::sort(firstCommandMs.begin(), firstCommandMs.end());
    return firstCommandMs;
}

WatchOptions WatchRig::options(int count) const
{
    WatchOptions options;
    options.journalFile = journalFile();
    options.settingsFile = settingsFile();
    options.count = count;
    return options;
}

QString WatchRig::journalFile() const
{
    return mDir.filePath(QStringLiteral("journal.csv"));
}

QString WatchRig::settingsFile() const
{
    return mDir.filePath(QStringLiteral("settings.ini"));
}

double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double idleCpuPercent(int seconds)
{
    const double before = processCpuMs();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return (processCpuMs() - before) / (seconds * 10.0);
}

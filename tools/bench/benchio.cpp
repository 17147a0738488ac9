#include "benchio.h"

#include <QFile>
#include <cstdio>
#include <unistd.h>

namespace BenchIo {

void out(const QString &line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toDouble() * sysconf(_SC_PAGESIZE) /
           (1024.0 * 1024.0);
}

} // namespace BenchIo

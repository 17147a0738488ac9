#pragma once

#include <QString>

// What every part of the benchmark prints and reads of its own process.
namespace BenchIo {
// One line on standard output, flushed at once so a long run shows progress.
void out(const QString &line);
// The process's resident memory now, from /proc.
double residentMiB();
} // namespace BenchIo

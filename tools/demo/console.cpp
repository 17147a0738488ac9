#include "console.h"

#include <cstdio>

namespace {
void writeLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fflush(stream);
}
} // namespace

namespace Console {

void say(const QString &line)
{
    writeLine(stdout, line);
}

void warn(const QString &line)
{
    fflush(stdout); // keeps the order of the two streams on a shared terminal
    writeLine(stderr, line);
}

} // namespace Console

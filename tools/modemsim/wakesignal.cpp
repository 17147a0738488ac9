#include "wakesignal.h"

#include <QtGlobal>
#include <fcntl.h>
#include <unistd.h>

WakeSignal::WakeSignal()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    for (int fd : fds) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    mRead = fds[0];
    mWrite = fds[1];
}

WakeSignal::~WakeSignal()
{
    if (mRead >= 0)
        close(mRead);
    if (mWrite >= 0)
        close(mWrite);
}

void WakeSignal::notify()
{
    // A full pipe already holds a wake-up; the result does not matter.
    const char byte = 1;
    if (mWrite < 0)
        return;
    const ssize_t written = write(mWrite, &byte, 1);
    Q_UNUSED(written)
}

void WakeSignal::drain()
{
    char bytes[64];
    ssize_t got = 1;
    while (mRead >= 0 && got > 0)
        got = read(mRead, bytes, sizeof bytes);
}

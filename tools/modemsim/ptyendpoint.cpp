#include "ptyendpoint.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <pty.h>
#include <sys/inotify.h>
#elif defined(__APPLE__)
#include <util.h>
#else
#include <libutil.h>
#endif

namespace {

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool setFlags(int fd)
{
    const int status = fcntl(fd, F_GETFL);
    return status >= 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

PtyEndpoint::~PtyEndpoint()
{
    close();
}

bool PtyEndpoint::open(QString *error)
{
    close();
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    char path[PATH_MAX] = {};
    if (openpty(&mMaster, &mSlave, nullptr, &raw, nullptr) != 0 ||
        ttyname_r(mSlave, path, sizeof path) != 0 || !setFlags(mMaster) ||
        fcntl(mSlave, F_SETFD, FD_CLOEXEC) != 0) {
        if (error)
            *error = QStringLiteral("cannot create a pseudo-terminal: %1")
                         .arg(QString::fromLocal8Bit(strerror(errno)));
        close();
        return false;
    }
    mSlavePath = QString::fromLocal8Bit(path);
#if defined(__linux__)
    // Without the watch the sim still works; only stale bytes may reach a new client.
    mWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (mWatch >= 0 && inotify_add_watch(mWatch, path, IN_OPEN | IN_CLOSE) < 0)
        closeFd(mWatch);
    mClients = 0;
#endif
    return true;
}

void PtyEndpoint::close()
{
    closeFd(mWatch);
    closeFd(mMaster);
    closeFd(mSlave);
    mSlavePath.clear();
}

void PtyEndpoint::closeMaster()
{
    closeFd(mWatch);
    closeFd(mMaster);
}

bool PtyEndpoint::clientPresent()
{
#if defined(__linux__)
    if (mWatch < 0)
        return true;
    alignas(inotify_event) char events[4096];
    ssize_t got = 0;
    while ((got = ::read(mWatch, events, sizeof events)) > 0) {
        for (const char *at = events; at < events + got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            // Our own descriptor was opened before the watch, so only clients are counted.
            // Identical events in a row may be merged: never count below zero. After lost
            // events, rather assume a listener than drop answers meant for one.
            if (event->mask & IN_OPEN)
                ++mClients;
            else if (event->mask & IN_CLOSE)
                mClients = std::max(0, mClients - 1);
            else if (event->mask & IN_Q_OVERFLOW)
                mClients = std::max(1, mClients);
            at += sizeof(inotify_event) + event->len;
        }
    }
    return mClients > 0;
#else
    return true;
#endif
}

void PtyEndpoint::discardUnread()
{
    if (mSlave >= 0)
        tcflush(mSlave, TCIFLUSH);
}

#include "interruptwatcher.h"

#include <QMetaObject>

#ifdef Q_OS_WIN
#include <io.h>
#include <stdio.h>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// A signal handler can reach the program only through process-wide state: the
// one watcher (Windows) or the write end of its wake-up pipe (POSIX). Both are
// set while the watcher lives and cleared when it goes.
namespace {
#ifdef Q_OS_WIN
InterruptWatcher *activeWatcher = nullptr;

BOOL WINAPI consoleHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (activeWatcher)
        QMetaObject::invokeMethod(activeWatcher, "signal_interrupted", Qt::QueuedConnection);
    return TRUE;
}
#else
int wakeFds[2] = {-1, -1};

void signalHandler(int)
{
    const char byte = 1;
    // Nothing to do if the pipe is full: a wake-up is pending already.
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
}
#endif
} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent) : QObject(parent)
{
    install();
}

InterruptWatcher::~InterruptWatcher()
{
    uninstall();
}

#ifdef Q_OS_WIN
void InterruptWatcher::install()
{
    activeWatcher = this;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
}

void InterruptWatcher::uninstall()
{
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    activeWatcher = nullptr;
}

bool InterruptWatcher::outputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

void InterruptWatcher::catchSignals() {}
#else
// SIGHUP (a dropped ssh session, a closed terminal) ends the run as SIGTERM
// does. SIGPIPE is ignored: a reader that goes away makes the output lost, and
// the run goes on.
void InterruptWatcher::catchSignals()
{
    ::signal(SIGPIPE, SIG_IGN);
    if (wakeFds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeFds) != 0)
        return;
    ::fcntl(wakeFds[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t caught;
    sigemptyset(&caught);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(number, &action, nullptr);
        sigaddset(&caught, number);
    }
    // A parent may start us with these blocked (the mask is inherited across
    // exec); unblocking hands any that came already to the handler above.
    ::sigprocmask(SIG_UNBLOCK, &caught, nullptr);
}

void InterruptWatcher::install()
{
    catchSignals();
    if (wakeFds[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        [[maybe_unused]] const ssize_t got = ::read(wakeFds[0], bytes, sizeof bytes);
        emit signal_interrupted();
    });
}

void InterruptWatcher::uninstall()
{
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        ::signal(number, SIG_DFL);
    qDeleteAll(findChildren<QSocketNotifier *>());
    for (int &fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool InterruptWatcher::outputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) != 0;
}
#endif

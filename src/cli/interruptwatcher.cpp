#include "interruptwatcher.h"

#include <QMetaObject>

#ifdef Q_OS_WIN
#include <atomic>
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
std::atomic<InterruptWatcher *> activeWatcher{nullptr};
// Set while no run is under way: after a watcher has gone, the report is out.
HANDLE runEnded = nullptr;
// Windows ends the process as soon as the handler of a close, log-off or
// shut-down event returns, and at the latest after five seconds: the handler
// holds on until the run has stopped its ports and written its report.
constexpr DWORD closeGraceMs = 4500;

BOOL WINAPI consoleHandler(DWORD event)
{
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    InterruptWatcher *watcher = activeWatcher.load();
    if (!watcher && !closing)
        return FALSE; // no run: the default, the end of the process
    // A closing console leaves seconds, not the time a job takes: it counts as
    // two interruptions, which stop every port at once (a watch finishes its
    // running jobs on the first).
    for (int i = 0; watcher && i < (closing ? 2 : 1); ++i)
        QMetaObject::invokeMethod(watcher, "signal_interrupted", Qt::QueuedConnection);
    if (closing && WaitForSingleObject(runEnded, closeGraceMs) == WAIT_OBJECT_0) {
        // The run is returning its own exit status; returning here would let
        // the system end the process first, with another one.
        Sleep(closeGraceMs);
    }
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
    if (!runEnded) {
        runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(consoleHandler, TRUE);
    }
    ResetEvent(runEnded);
    activeWatcher = this;
}

// The handler stays registered: a close event being handled keeps the process
// until the report is out, and one that comes after the run only waits for the
// exit under way.
void InterruptWatcher::uninstall()
{
    activeWatcher = nullptr;
    SetEvent(runEnded);
}

bool InterruptWatcher::outputIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

void InterruptWatcher::catchSignals() {}
#else
// SIGHUP (a dropped ssh session, a closed terminal) ends the run as SIGTERM
// does. SIGPIPE is ignored: a reader that goes away makes the output lost, and
// the run goes on. So is SIGXFSZ: a journal past the system's file-size limit
// is a failed write the run reports and whose record it keeps, not its end.
void InterruptWatcher::catchSignals()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
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

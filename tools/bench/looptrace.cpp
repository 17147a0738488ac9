#include "looptrace.h"

#include <QMetaEnum>
#include <QThread>
#include <cstdio>
#include <ctime>

namespace {
constexpr double reportMs = 10;

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

const char *className(const QObject *object)
{
    return object ? object->metaObject()->className() : "-";
}
// Time the thread has spent ready to run but waiting for a core, from the
// scheduler's statistics.
double threadRunWaitMs()
{
    std::FILE *file = std::fopen("/proc/thread-self/schedstat", "r");
    if (!file)
        return 0;
    unsigned long long onCpu = 0;
    unsigned long long waiting = 0;
    const int read = std::fscanf(file, "%llu %llu", &onCpu, &waiting);
    std::fclose(file);
    return read == 2 ? waiting / 1e6 : 0;
}
} // namespace

TracingApplication::TracingApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TracingApplication::notify(QObject *receiver, QEvent *event)
{
    if (!mTracing || QThread::currentThread() != thread())
        return QApplication::notify(receiver, event);
    if (mDepth++ == 0 && mSinceLast.isValid()) {
        const double gapMs = mSinceLast.nsecsElapsed() / 1e6;
        if (gapMs > reportMs)
            std::fprintf(stderr,
                         "loop: between events %.1f ms wall, %.1f ms CPU, %.1f ms waiting for a "
                         "core\n",
                         gapMs, threadCpuMs() - mCpuAtLast, threadRunWaitMs() - mRunWaitAtLast);
    }
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = threadCpuMs();
    const double runWaitBefore = threadRunWaitMs();
    const int type = event->type();
    // Read now: the receiver may be gone once the event is handled.
    const char *receiverClass = className(receiver);
    const char *parentClass = className(receiver->parent());
    const bool handled = QApplication::notify(receiver, event);
    if (--mDepth == 0) {
        const double wallMs = clock.nsecsElapsed() / 1e6;
        if (wallMs > reportMs)
            std::fprintf(stderr,
                         "loop: event %d to %s, parent %s: %.1f ms wall, %.1f ms CPU, %.1f ms "
                         "waiting for a core\n",
                         type, receiverClass, parentClass, wallMs, threadCpuMs() - cpuBefore,
                         threadRunWaitMs() - runWaitBefore);
        mSinceLast.start();
        mCpuAtLast = threadCpuMs();
        mRunWaitAtLast = threadRunWaitMs();
    }
    return handled;
}

#include "consolestream.h"

#include "log/fileproblem.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace {
constexpr int closeWaitMs = 100;

// Writes all of the bytes; the error number, or 0.
int writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
#ifdef Q_OS_WIN
        const int chunk = static_cast<int>(qMin<qint64>(size, 1 << 20));
        const int written = ::_write(fd, data, static_cast<unsigned>(chunk));
        if (written < 0)
            return errno;
#else
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
#endif
        data += written;
        size -= written;
    }
    return 0;
}
} // namespace

// Shared with the writer thread, which may outlive the stream when its reader has stopped.
struct ConsoleStream::State
{
    int fd = -1;
    std::mutex mutex;
    std::condition_variable changed;
    QByteArray queue;
    qint64 inFlight = 0;
    bool closing = false;
    bool done = false;
    QString lostReason;

    void run();
};

void ConsoleStream::State::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return closing || !queue.isEmpty(); });
        if (queue.isEmpty())
            break;
        const QByteArray chunk = queue;
        queue.clear();
        inFlight = chunk.size();
        lock.unlock();
        const int error = writeAll(fd, chunk.constData(), chunk.size());
        lock.lock();
        inFlight = 0;
        if (error != 0 && lostReason.isEmpty())
            lostReason = FileProblem::outputSentence(error);
        if (!lostReason.isEmpty())
            queue.clear();
        changed.notify_all();
    }
    done = true;
    changed.notify_all();
}

ConsoleStream::ConsoleStream(int fd, QObject *parent)
    : QIODevice(parent), mState(std::make_shared<State>())
{
    mState->fd = fd;
    std::thread([state = mState] { state->run(); }).detach();
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

ConsoleStream::~ConsoleStream()
{
    std::unique_lock<std::mutex> lock(mState->mutex);
    mState->closing = true;
    mState->changed.notify_all();
    mState->changed.wait_for(lock, std::chrono::milliseconds(closeWaitMs),
                             [this] { return mState->done; });
}

qint64 ConsoleStream::bytesToWrite() const
{
    std::lock_guard<std::mutex> lock(mState->mutex);
    return mState->queue.size() + mState->inFlight;
}

bool ConsoleStream::waitForBytesWritten(int msecs)
{
    std::unique_lock<std::mutex> lock(mState->mutex);
    const bool drained = mState->changed.wait_for(lock, std::chrono::milliseconds(msecs), [this] {
        return !mState->lostReason.isEmpty() || (mState->queue.isEmpty() && mState->inFlight == 0);
    });
    return drained && mState->lostReason.isEmpty();
}

bool ConsoleStream::lost() const
{
    return !lostReason().isEmpty();
}

QString ConsoleStream::lostReason() const
{
    std::lock_guard<std::mutex> lock(mState->mutex);
    return mState->lostReason;
}

qint64 ConsoleStream::readData(char *, qint64)
{
    return -1;
}

// Once output is lost the rest goes nowhere: the end of the run reports it.
qint64 ConsoleStream::writeData(const char *data, qint64 size)
{
    std::lock_guard<std::mutex> lock(mState->mutex);
    if (!mState->lostReason.isEmpty())
        return -1;
    if (mState->queue.size() + size > maxQueuedBytes) {
        mState->lostReason = QStringLiteral("читатель не успевал, часть вывода отброшена");
        mState->queue.clear();
        return -1;
    }
    mState->queue.append(data, static_cast<int>(size));
    mState->changed.notify_all();
    return size;
}

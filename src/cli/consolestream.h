#pragma once

#include <QIODevice>
#include <memory>

// Standard output or standard error, written by a thread of its own: a reader
// that stops (a paused terminal, a full pipe) holds up only that thread, never
// the event loop that drives the modems, and a reader that goes away (a closed
// pipe, a full disk) makes the output lost, never ends the process. What waits
// is kept in a bounded queue; a write that does not fit is lost too.
class ConsoleStream : public QIODevice
{
    Q_OBJECT

public:
    // fd: the descriptor written to; it stays open when the stream goes.
    explicit ConsoleStream(int fd, QObject *parent = nullptr);
    // Does not wait for a reader that has stopped: the rest is then left to the writer thread.
    ~ConsoleStream() override;

    bool isSequential() const override { return true; }
    // Bytes queued or being written.
    qint64 bytesToWrite() const override;
    // True once everything written so far has reached the descriptor; false on
    // a time-out or when some output was lost.
    bool waitForBytesWritten(int msecs) override;
    // Whether some output never reached the descriptor, and why.
    bool lost() const;
    QString lostReason() const;

    static constexpr qint64 maxQueuedBytes = 1024 * 1024;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    struct State;
    std::shared_ptr<State> mState;
};

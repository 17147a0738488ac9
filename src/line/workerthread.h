#pragma once

#include <QObject>
#include <QThread>
#include <functional>

// A thread of its own for work that may wait (the disk's sync, the system's
// device lists), so that the event loop it serves never does. Tasks run one at
// a time in the order they were posted; after each, its completion runs on the
// thread that owns this object. Destroying it lets the tasks already posted
// finish (their completions are dropped), then ends the thread.
class WorkerThread : public QObject
{
    Q_OBJECT

public:
    explicit WorkerThread(const QString &name, QObject *parent = nullptr);
    ~WorkerThread() override;

    // work runs on the worker thread, done afterwards on this object's thread.
    void post(std::function<void()> work, std::function<void()> done);
    // Tasks posted whose completion has not run yet.
    int pending() const { return mPending; }

private:
    QThread mThread;
    QObject *mWorker; // lives on mThread: the tasks are its queued calls
    int mPending = 0;
};

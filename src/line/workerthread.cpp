#include "workerthread.h"

#include <QMetaObject>

WorkerThread::WorkerThread(const QString &name, QObject *parent)
    : QObject(parent), mWorker(new QObject)
{
    mThread.setObjectName(name);
    mWorker->moveToThread(&mThread);
    mThread.start();
}

// The quit is queued behind the tasks, so each of them runs to its end.
WorkerThread::~WorkerThread()
{
    QThread *thread = &mThread;
    QMetaObject::invokeMethod(
        mWorker, [thread] { thread->quit(); }, Qt::QueuedConnection);
    mThread.wait();
    delete mWorker;
}

void WorkerThread::post(std::function<void()> work, std::function<void()> done)
{
    ++mPending;
    QMetaObject::invokeMethod(
        mWorker,
        [this, work = std::move(work), done = std::move(done)] {
            work();
            QMetaObject::invokeMethod(
                this,
                [this, done] {
                    --mPending;
                    done();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

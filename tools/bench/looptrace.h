#pragma once

#include <QApplication>
#include <QElapsedTimer>

// An application that times every event its GUI thread handles and prints, on
// stderr, each one that kept the thread longer than a threshold: wall and CPU
// milliseconds (CPU well below wall: the thread waited, on the disk or for a
// core), the event's type, its receiver and the receiver's parent. Also the
// gaps between two events, spent in the dispatcher itself. For finding what
// stalls the event loop; `lorta-bench --trace-loop`.
class TracingApplication : public QApplication
{
public:
    TracingApplication(int &argc, char **argv);
    void setTracing(bool tracing) { mTracing = tracing; }
    bool notify(QObject *receiver, QEvent *event) override;

private:
    bool mTracing = false;
    int mDepth = 0;
    QElapsedTimer mSinceLast;
    double mCpuAtLast = 0;
    double mRunWaitAtLast = 0;
};

#pragma once

#include "protocol/modemfiles.h"
#include "protocol/timing.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>

class QSerialPort;

// The only owner of the serial port. Opens it, writes the one command handed
// over at a time, reads the answer after the caller's answer delay, collects
// bytes that arrive unasked between commands, and closes the port, all on its
// own thread. The owner talks to it only through the five guarded operations;
// it reports only through its signals.
class SerialPort : public QThread
{
    Q_OBJECT

public:
    // The waits around each exchange are the product's unless a test scales them.
    explicit SerialPort(const Timing::WorkerWaits &waits);
    ~SerialPort() override;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    void setPortSettings(const QString &name, int baud);
    void startPort();
    void stopPort();
    bool isPortOpened();
    // Whether the last open failed because another program holds the device.
    bool isHeldElsewhere();
    // Non-blocking hand-over of one command; false while an exchange runs or a command is pending.
    bool setRequest(const QByteArray &data, int wait);

signals:
    void signal_openPort_ok();
    void signal_openPort_error();
    void signal_receivedAnswer(QByteArray data);
    void signal_receivedData(QByteArray data);
    // How much of the command or file in flight has gone to the driver.
    void signal_bytesWritten(qint64 sent, qint64 total);
    // Once per open, before the answer it cut short: the device is gone.
    void signal_lineLost();

protected:
    void run() override;

private:
    bool openPort();
    bool holdExclusively();
    enum class AnswerWait
    {
        Elapsed,
        Stopped,
        LineLost
    };
    void exchangeCommand();
    AnswerWait waitForAnswer(int delayMs, qint64 total, QByteArray &answer);
    void reportBytesWritten(qint64 total, qint64 &reported);
    bool lineLost();
    bool descriptorHungUp() const;
    bool waitForBytes(int timeoutMs);
    void collectUnaskedBytes();
    void waitIdle();
    bool requestPending();
    void wake();
    void closePort();
    bool stopRequested();
#ifdef Q_OS_UNIX
    bool sleepOnPort(int timeoutMs);
    void drainWake();
    // A pipe the owner writes to (a command handed over, a stop) to end the
    // worker's wait on the port at once.
    int mWakeFds[2] = {-1, -1};
#endif

    const Timing::WorkerWaits mWaits;
    QMutex mMutexState;
    bool mPortOpened = false;
    bool mHeldElsewhere = false;
    QMutex mMutexStop;
    bool mStopRequested = false;
    QMutex mMutexPort;
    QSerialPort *mPort = nullptr;
    bool mLineLost = false; // the worker thread's own: set by the port's error signal
    bool mLineLostReported = false;
    QMutex mMutexRequest;
    QByteArray mRequestData;
    int mRequestWait = 0;
    QMutex mMutexSettings;
    QString mPortName;
    int mBaudRate = ModemLine::baudRate;
};

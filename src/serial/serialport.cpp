#include "serialport.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>

namespace {
// Waits of the worker loop, in milliseconds.
constexpr int writeWait = 100;
constexpr int firstReadWait = 100;
constexpr int passSleep = 5;
constexpr int unaskedFirstWait = 50;
constexpr int unaskedSecondWait = 50;
constexpr int unaskedThirdWait = 30;
} // namespace

void SerialPort::setPortSettings(const QString &name, int baud)
{
    QMutexLocker lock(&mMutexSettings);
    mPortName = name;
    mBaudRate = baud;
}

void SerialPort::startPort()
{
    {
        QMutexLocker lock(&mMutexStop);
        mStopRequested = false;
    }
    start(QThread::InheritPriority);
}

void SerialPort::stopPort()
{
    QMutexLocker lock(&mMutexStop);
    mStopRequested = true;
}

bool SerialPort::isPortOpened()
{
    QMutexLocker lock(&mMutexState);
    return mPortOpened;
}

bool SerialPort::setRequest(const QByteArray &data, int wait)
{
    // The GUI thread must never wait for an exchange: try once, without blocking.
    if (!mMutexRequest.tryLock(0))
        return false;
    const bool accepted = (mRequestWait == 0);
    if (accepted) {
        mRequestData = data;
        mRequestWait = wait;
    }
    mMutexRequest.unlock();
    return accepted;
}

bool SerialPort::stopRequested()
{
    QMutexLocker lock(&mMutexStop);
    return mStopRequested;
}

void SerialPort::run()
{
    if (!openPort())
        return;
    while (!stopRequested()) {
        {
            QMutexLocker lock(&mMutexRequest);
            if (mRequestWait != 0 && !mRequestData.isEmpty())
                exchangeCommand();
        }
        msleep(passSleep);
        collectUnaskedBytes();
        msleep(passSleep);
    }
    closePort();
}

bool SerialPort::openPort()
{
    QMutexLocker portLock(&mMutexPort);
    if (mPort) {
        portLock.unlock();
        emit signal_openPort_error();
        return false;
    }
    mPort = new QSerialPort;
    {
        QMutexLocker settingsLock(&mMutexSettings);
        mPort->setPortName(mPortName);
        mPort->setBaudRate(mBaudRate, QSerialPort::AllDirections);
    }
    mPort->setDataBits(QSerialPort::Data8);
    mPort->setParity(QSerialPort::NoParity);
    mPort->setStopBits(QSerialPort::OneStop);
    mPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!mPort->open(QIODevice::ReadWrite)) {
        delete mPort;
        mPort = nullptr;
        portLock.unlock();
        emit signal_openPort_error();
        return false;
    }
    emit signal_openPort_ok();
    portLock.unlock();
    QMutexLocker stateLock(&mMutexState);
    mPortOpened = true;
    return true;
}

// Runs with mMutexRequest held: the hand-over slot stays busy for the whole exchange.
void SerialPort::exchangeCommand()
{
    QMutexLocker portLock(&mMutexPort);
    mPort->write(mRequestData);
    mPort->waitForBytesWritten(writeWait);
    mRequestData.clear();
    // The driver may not take a long file at once; what it left in the port's
    // buffer must still go out within the answer delay, or the modem would
    // never get the whole file and the answer would come too late.
    const int drained = drainWrites(mRequestWait);
    msleep(static_cast<unsigned long>(mRequestWait - drained));
    mPort->waitForReadyRead(firstReadWait);
    emit signal_receivedAnswer(mPort->readAll());
    mRequestWait = 0;
}

// Writes out what the port still buffers, for at most budgetMs; returns the time spent.
int SerialPort::drainWrites(int budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    while (mPort->bytesToWrite() > 0 && clock.elapsed() < budgetMs) {
        const int left = budgetMs - static_cast<int>(clock.elapsed());
        if (!mPort->waitForBytesWritten(qMin(writeWait, left)) &&
            mPort->error() != QSerialPort::NoError && mPort->error() != QSerialPort::TimeoutError)
            break; // the line is gone: nothing more will be written
    }
    return static_cast<int>(qMin<qint64>(clock.elapsed(), budgetMs));
}

// Only the worker thread creates and destroys the port object, so reading the
// pointer here needs no lock.
void SerialPort::collectUnaskedBytes()
{
    mPort->waitForReadyRead(unaskedFirstWait);
    QByteArray data = mPort->readAll();
    if (data.isEmpty())
        return;
    mPort->waitForReadyRead(unaskedSecondWait);
    const QByteArray second = mPort->readAll();
    if (!second.isEmpty()) {
        data += second;
        mPort->waitForReadyRead(unaskedThirdWait);
        data += mPort->readAll();
    }
    emit signal_receivedData(data);
}

void SerialPort::closePort()
{
    {
        QMutexLocker portLock(&mMutexPort);
        delete mPort;
        mPort = nullptr;
    }
    {
        QMutexLocker requestLock(&mMutexRequest);
        mRequestWait = 0;
        mRequestData.clear();
    }
    QMutexLocker stateLock(&mMutexState);
    mPortOpened = false;
}

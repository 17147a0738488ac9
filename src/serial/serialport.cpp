#include "serialport.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>
#endif

SerialPort::SerialPort(const Timing::WorkerWaits &waits) : mWaits(waits)
{
#ifdef Q_OS_UNIX
    if (::pipe(mWakeFds) != 0) {
        mWakeFds[0] = mWakeFds[1] = -1;
        return;
    }
    for (int fd : mWakeFds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
#endif
}

SerialPort::~SerialPort()
{
#ifdef Q_OS_UNIX
    for (int fd : mWakeFds) {
        if (fd >= 0)
            ::close(fd);
    }
#endif
}

// Without a wake-up the worker still looks at least once a pass or a slice.
void SerialPort::wake()
{
#ifdef Q_OS_UNIX
    const char byte = 1;
    if (mWakeFds[1] >= 0 && ::write(mWakeFds[1], &byte, 1) < 0) {
        // Full: a wake-up is pending already.
    }
#endif
}

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
    {
        QMutexLocker lock(&mMutexStop);
        mStopRequested = true;
    }
    wake();
}

bool SerialPort::isHeldElsewhere()
{
    QMutexLocker lock(&mMutexState);
    return mHeldElsewhere;
}

// One opener a device, also across programs and for root, which the terminal's
// own exclusive mode lets through: a second flasher, window or watch on the
// same modem would garble its exchanges and its files. The hold goes with the
// descriptor. Windows opens a COM port for one opener only by itself.
bool SerialPort::holdExclusively()
{
#ifdef Q_OS_UNIX
    return ::flock(static_cast<int>(mPort->handle()), LOCK_EX | LOCK_NB) == 0;
#else
    return true;
#endif
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
    if (accepted)
        wake();
    return accepted;
}

bool SerialPort::requestPending()
{
    QMutexLocker lock(&mMutexRequest);
    return mRequestWait != 0 && !mRequestData.isEmpty();
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
        msleep(static_cast<unsigned long>(msOf(mWaits.passSleep)));
        collectUnaskedBytes();
        msleep(static_cast<unsigned long>(msOf(mWaits.passSleep)));
        waitIdle();
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
    const bool opened = mPort->open(QIODevice::ReadWrite);
    const bool held = opened && holdExclusively();
    {
        QMutexLocker stateLock(&mMutexState);
        mHeldElsewhere = opened && !held;
    }
    if (!held) {
        delete mPort;
        mPort = nullptr;
        portLock.unlock();
        emit signal_openPort_error();
        return false;
    }
    // Any error but a timed-out wait means the line is gone (on Windows a pulled
    // adapter is a resource error; Wine reports a hung-up terminal as unknown).
    // It is kept as it is raised: the wait it is raised in goes on and ends in
    // a time-out, which replaces the port's error.
    mLineLost = false;
    mLineLostReported = false;
    connect(mPort, &QSerialPort::errorOccurred, mPort, [this](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError)
            mLineLost = true;
    });
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
    mPort->waitForBytesWritten(msOf(mWaits.write));
    const qint64 total = mRequestData.size();
    mRequestData.clear();
    QByteArray answer;
    const AnswerWait outcome = waitForAnswer(mRequestWait, total, answer);
    // An exchange cut short by a stop belongs to nobody: the owner has moved on.
    if (outcome != AnswerWait::Stopped) {
        // Only a silent modem is given the extra first-read wait.
        if (outcome == AnswerWait::Elapsed)
            mPort->waitForReadyRead(answer.isEmpty() ? msOf(mWaits.firstRead) : 0);
        answer += mPort->readAll();
        emit signal_receivedAnswer(answer);
    }
    mRequestWait = 0;
}

// The answer delay, in short slices so that a stop or a lost line ends it at
// once. Meanwhile the port keeps writing what it still buffers (the driver may
// not take a long file at once, and the modem must get all of it within the
// delay) and keeps reading, so a hang-up is seen as soon as it happens. The
// bytes are taken into `answer` as they come: on Windows a read is what starts
// the next one, where the line's own event cannot (Wine on a terminal).
SerialPort::AnswerWait SerialPort::waitForAnswer(int delayMs, qint64 total, QByteArray &answer)
{
    QElapsedTimer clock;
    clock.start();
    qint64 reported = -1;
    for (;;) {
        reportBytesWritten(total, reported);
        if (stopRequested())
            return AnswerWait::Stopped;
        if (lineLost())
            return AnswerWait::LineLost;
        const qint64 left = delayMs - clock.elapsed();
        if (left <= 0)
            return AnswerWait::Elapsed;
        const int slice = static_cast<int>(qMin<qint64>(left, msOf(mWaits.answerSlice)));
        const qint64 sliceStart = clock.elapsed();
        const bool progressed = mPort->bytesToWrite() > 0 ? mPort->waitForBytesWritten(slice)
                                                          : waitForBytes(static_cast<int>(left));
        answer += mPort->readAll();
        // A wait that gives up at once without an error must not turn this loop into a spin.
        if (!progressed && clock.elapsed() - sliceStart < slice / 2)
            msleep(static_cast<unsigned long>(slice));
    }
}

// Up to timeoutMs for the modem's bytes; false only for a wait that gave up
// without a reason. On Unix one sleep on the port that a hang-up or the owner's
// wake-up (a stop) ends at once; elsewhere one slice, after which the caller
// looks for a stop or a lost line again.
bool SerialPort::waitForBytes(int timeoutMs)
{
#ifdef Q_OS_UNIX
    if (mWakeFds[0] >= 0)
        return !sleepOnPort(timeoutMs) || mPort->waitForReadyRead(0);
#endif
    return mPort->waitForReadyRead(qMin(timeoutMs, msOf(mWaits.answerSlice)));
}

void SerialPort::reportBytesWritten(qint64 total, qint64 &reported)
{
    const qint64 sent = total - mPort->bytesToWrite();
    if (sent == reported)
        return;
    reported = sent;
    emit signal_bytesWritten(sent, total);
}

// The device is gone (a pulled USB adapter, a hung-up line) or refuses I/O
// for good. Said once, so that the owner knows why the exchange ended.
bool SerialPort::lineLost()
{
    if (!mLineLost && !descriptorHungUp())
        return false;
    mLineLost = true;
    if (!mLineLostReported) {
        mLineLostReported = true;
        emit signal_lineLost();
    }
    return true;
}

bool SerialPort::descriptorHungUp() const
{
#ifdef Q_OS_UNIX
    // A hung-up terminal may read as empty instead of failing, and then the
    // port reports no error at all; the descriptor itself tells.
    pollfd descriptor{static_cast<int>(mPort->handle()), 0, 0};
    return ::poll(&descriptor, 1, 0) > 0 && (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    return false;
#endif
}

// Only the worker thread creates and destroys the port object, so reading the
// pointer here needs no lock.
void SerialPort::collectUnaskedBytes()
{
    if (lineLost())
        return;
    mPort->waitForReadyRead(msOf(mWaits.unaskedFirst));
    QByteArray data = mPort->readAll();
    if (data.isEmpty())
        return;
    mPort->waitForReadyRead(msOf(mWaits.unaskedSecond));
    const QByteArray second = mPort->readAll();
    if (!second.isEmpty()) {
        data += second;
        mPort->waitForReadyRead(msOf(mWaits.unaskedThird));
        data += mPort->readAll();
    }
    emit signal_receivedData(data);
}

// Between passes with no command to send the worker sleeps until there is
// one, or a stop, or bytes from the modem, or a hang-up, instead of waking a
// few dozen times a second to look: a bench with many ports open stays idle.
void SerialPort::waitIdle()
{
#ifdef Q_OS_UNIX
    if (mWakeFds[0] < 0)
        return;
    drainWake(); // a wake-up for what is already seen to below
    if (stopRequested() || requestPending() || lineLost())
        return;
    sleepOnPort(msOf(mWaits.idleSleep));
#endif
}

#ifdef Q_OS_UNIX
// Whether the port has something (bytes, or a hang-up) when the sleep ends.
bool SerialPort::sleepOnPort(int timeoutMs)
{
    pollfd descriptors[2] = {{static_cast<int>(mPort->handle()), POLLIN, 0},
                             {mWakeFds[0], POLLIN, 0}};
    const bool ready = ::poll(descriptors, 2, timeoutMs) > 0 && descriptors[0].revents != 0;
    drainWake();
    return ready;
}

void SerialPort::drainWake()
{
    char bytes[64];
    while (::read(mWakeFds[0], bytes, sizeof bytes) > 0) {
    }
}
#endif

void SerialPort::closePort()
{
    {
        QMutexLocker portLock(&mMutexPort);
        // Bytes a cut-short exchange left unsent are dropped, so the close
        // neither writes them nor waits for a slow line to drain them.
        mPort->clear(QSerialPort::Output);
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

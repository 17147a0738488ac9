// lorta-usbrig-probe: records what a pulled USB-serial adapter looks like from a
// QSerialPort and from its descriptor, for the rig's notes.
//   lorta-usbrig-probe PORT READY_FILE
// Opens PORT at 9600 8N1, creates READY_FILE, then waits (at most a minute) for the
// line to go and prints what the port, a read and a write report.

#include "hostlink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMetaEnum>
#include <QSerialPort>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
constexpr int lostWaitMs = 60000;
constexpr int sliceMs = 20;

const char *errorName(QSerialPort::SerialPortError error)
{
    return QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error);
}

void rawReadAndWrite(int fd)
{
    char byte = 0;
    errno = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    printf("descriptor read: %zd (%s)\n", got, got < 0 ? strerror(errno) : "end of file");
    errno = 0;
    const ssize_t put = ::write(fd, "at\r", 3);
    printf("descriptor write: %zd (%s)\n", put, put < 0 ? strerror(errno) : "taken");
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        fprintf(stderr, "usage: lorta-usbrig-probe PORT READY_FILE\n");
        return 2;
    }
    QSerialPort port(args.at(1));
    port.setBaudRate(QSerialPort::Baud9600);
    if (!port.open(QIODevice::ReadWrite)) {
        printf("open failed: %s\n", errorName(port.error()));
        return 1;
    }
    QStringList errors;
    QElapsedTimer clock;
    QObject::connect(&port, &QSerialPort::errorOccurred, &port,
                     [&](QSerialPort::SerialPortError error) {
                         if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
                             return;
                         errors << QString::fromLatin1(errorName(error));
                     });
    const QFileInfo ready(args.at(2));
    HostLink(ready.path()).post(ready.fileName());
    clock.start();
    // The pull comes while the port waits for data, as the worker's answer wait does.
    while (errors.isEmpty() && clock.elapsed() < lostWaitMs) {
        port.waitForReadyRead(sliceMs);
        port.readAll();
    }
    printf("errorOccurred: %s\n", qPrintable(errors.join(QStringLiteral(", "))));
    printf("QSerialPort::read: %lld, then error %s\n", static_cast<long long>(port.read(16).size()),
           errorName(port.error()));
    port.clearError();
    const qint64 written = port.write("at\r", 3);
    const bool flushed = port.waitForBytesWritten(100);
    printf("QSerialPort::write: %lld, waitForBytesWritten: %s, error %s\n",
           static_cast<long long>(written), flushed ? "true" : "false", errorName(port.error()));
    rawReadAndWrite(static_cast<int>(port.handle()));
    printf("isOpen: %s\n", port.isOpen() ? "true" : "false");
    return errors.isEmpty() ? 1 : 0;
}

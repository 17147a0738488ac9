#pragma once

#include <QByteArray>
#include <QString>

// A small local file ("settings.ini", "setting") as read: only a regular file,
// links followed, of at most the given size is read, so a FIFO, a device or a
// huge file put in its place can neither block the window nor fill memory.
struct SmallFile
{
    enum class Status
    {
        Read,
        NotFound, // missing, not a regular file (a FIFO, a device, a directory) or not readable
        TooLarge
    };

    SmallFile(Status status = Status::NotFound, const QByteArray &bytes = QByteArray(),
              const QString &problem = QString())
        : status(status), bytes(bytes), problem(problem)
    {
    }

    Status status;
    QByteArray bytes; // the whole file when Read, empty otherwise
    // Why the system refused the file (no permission, a disk error), as a
    // Russian sentence; empty when it is simply not there or too large.
    QString problem;

    bool isRead() const { return status == Status::Read; }
};

// Checks the path without opening it, opens it without blocking and reads at
// most maxBytes bytes of it.
SmallFile readSmallFile(const QString &path, qint64 maxBytes);

// Replaces the content of a regular file, or creates one, without blocking;
// anything else at the path (a FIFO, a device, a directory) is left alone.
// Returns whether every byte was written.
bool writeSmallFile(const QString &path, const QByteArray &bytes);

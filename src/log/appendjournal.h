#pragma once

#include <QFile>
#include <QString>

// A journal that whole lines are appended to, each reaching the file as it is
// appended. Only a regular file is taken, opened without blocking, so a FIFO,
// a device or a directory named as the journal can neither block the program
// nor swallow its lines. A line that does not reach the file is a failure
// with a reason in Russian, for the caller to show at once.
class AppendJournal
{
public:
    // False with a whole sentence when the file cannot be opened for appending.
    // A missing folder is made first, with the folders above it.
    bool open(const QString &fileName, QString *error);
    // The same, with the bare reason: notRegular() or the system's, told in
    // Russian (FileProblem).
    bool openRegular(const QString &fileName, QString *reason);
    static QString notRegular();
    bool isOpen() const { return mFile.isOpen(); }
    void close() { mFile.close(); }
    QString fileName() const { return mFileName; }
    qint64 size() const { return mFile.size(); }
    // False with a reason when the line did not reach the file whole.
    bool append(const QByteArray &line, QString *error);
    // Everything appended reaches the disk, not only the system's cache: a PC
    // that loses power keeps it. False with a reason.
    bool syncToDisk(QString *error);
    // Cuts the file back, after a line that did not go in whole.
    bool truncateTo(qint64 size);

    // Takes the file for this writer alone until it is closed, also against
    // other processes; false when another writer holds it.
    bool holdExclusively();
    // Whether the file the name leads to is still the one open: false once it
    // has been renamed, replaced or deleted.
    bool stillAtItsName() const;
    // Whether the file ends a line (or is empty), so the next line starts on its own.
    bool endsWithLineEnd() const;

private:
    QFile mFile;
    QString mFileName;
};

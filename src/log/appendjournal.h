#pragma once

#include <QFile>
#include <QString>

// A journal that whole lines are appended to, each reaching the file as it is
// appended. Only a regular file is taken, opened without blocking, so a FIFO,
// a device or a directory named as the journal can neither block the program
// nor swallow its lines. A line that does not reach the file is a failure
// with a reason, for the caller to show at once.
class AppendJournal
{
public:
    // False with a reason when the file cannot be opened for appending.
    bool open(const QString &fileName, QString *error);
    bool isOpen() const { return mFile.isOpen(); }
    QString fileName() const { return mFileName; }
    // False with a reason when the line did not reach the file whole.
    bool append(const QByteArray &line, QString *error);

private:
    bool openRegular(const QString &fileName, QString *reason);

    QFile mFile;
    QString mFileName;
};

#pragma once

#include <QHash>
#include <QString>

// The bench's socket numbers: 1, 2, 3 … in the order the USB positions were
// first seen, kept in a small text file (one "number;position" a line) so a
// socket keeps its number across plugs, restarts and changing port names. The
// file is the engineer's to edit; one that gives a number or a position twice,
// a number outside 1 to 9999 or a line that is not "number;position" is
// refused whole, with its line, since two ports in one socket would stall both.
class SocketNumbers
{
public:
    static constexpr int maxNumber = 9999;

    // The numbers file that goes with a journal: "lorta-journal.csv" → "lorta-journal.sockets".
    static QString fileBeside(const QString &journalFile);

    // Reads the file if there is one; false with a reason when it is unreadable or refused.
    bool load(const QString &fileName, QString *error = nullptr);
    // The socket's number, a new one (saved at once) for a position not seen before.
    // A number that could not be saved is still given; *error says why.
    int numberFor(const QString &key, QString *error = nullptr);
    // The same without saving: *added says the position is new and the file
    // needs contents() written, which an owner may do on another thread.
    int assign(const QString &key, bool *added);
    // Gives the position another number, one no other position has; false with a reason.
    bool renumber(const QString &key, int number, QString *error);
    int count() const { return mNumbers.size(); }
    QString fileName() const { return mFileName; }
    // The file's text for the numbers known now.
    QByteArray contents() const;
    // Replaces the file with bytes through a temporary file: a crash leaves the
    // old list or the new one. Touches nothing else, so any thread may call it.
    static bool write(const QString &fileName, const QByteArray &bytes, QString *error);

private:
    QString lineProblem(const QString &line, int lineNumber, QHash<int, int> &lineOfNumber,
                        QHash<QString, int> &lineOfKey);
    int nextFree() const;

    QString mFileName;
    QHash<QString, int> mNumbers;
    int mLast = 0;
};

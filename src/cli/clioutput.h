#pragma once

#include "log/appendjournal.h"

#include <QStringList>
#include <QVector>

class QIODevice;

// Everything the flasher prints goes through here: event lines, progress
// lines, the results and errors, and the journal. Every event is one line,
// prefixed by its port; on a terminal each port also has a live progress line
// kept below the events. The journal gets every event line as it happens.
// Output that does not arrive (a closed pipe, a full disk, a journal that
// cannot be written) never stops a run: it is noted, the journal's at once
// on standard error, and reported at the end.
class CliOutput
{
public:
    // json: standard output carries the results only, the events go to
    // standard error; terminal: whether to draw progress lines.
    CliOutput(QIODevice *out, QIODevice *err, bool json, bool terminal);

    // False with a reason when the journal cannot be opened for appending.
    bool openJournal(const QString &fileName, QString *error);
    void setPorts(const QStringList &ports);
    void event(const QString &port, const QString &line);
    void setProgress(int index, const QString &text);
    // Draws the progress lines again if they changed; a timer calls it a few
    // times a second. Skipped while earlier output still waits for its reader.
    void redraw();
    // Removes the progress lines, before the results.
    void clearProgress();
    void results(const QByteArray &bytes);
    void error(const QString &text);
    // Waits at most waitMs for the output to reach its readers, then reports
    // any that was lost, on whichever stream still works. True if none was.
    bool finish(int waitMs);
    bool lostAny() const { return !mLosses.isEmpty(); }

    static QString eventLine(const QString &port, const QString &line);
    // Control characters shown as escapes, so that a port name or a modem's
    // text cannot move the cursor or forge lines.
    static QString printable(const QString &text);
    // Rows as aligned columns, two spaces apart, one line each; the last
    // column is left as it is, however long.
    static QString columns(const QList<QStringList> &rows);

private:
    void put(QIODevice *device, const QByteArray &bytes);
    void noteLoss(QIODevice *device, const QString &reason);
    QString streamName(const QIODevice *device) const;
    void eraseProgress();
    void drawProgress();

    QIODevice *mOut;
    QIODevice *mErr;
    QIODevice *mEvents;
    bool mTerminal;
    AppendJournal mJournal;
    bool mJournalFailed = false;
    QStringList mLosses;
    QVector<const QIODevice *> mLostDevices;
    QStringList mPorts;
    QVector<QString> mProgress;
    int mDrawnLines = 0;
    bool mDirty = false;
    int mPortWidth = 0;
};

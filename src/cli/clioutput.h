#pragma once

#include <QFile>
#include <QStringList>
#include <QVector>

class QIODevice;

// The flasher's console and journal. Every event is one line, prefixed by its
// port; on a terminal each port also has a live progress line kept below the
// events. The journal gets every event line, flushed line by line.
class CliOutput
{
public:
    // events: where event lines go (standard output, or standard error when
    // standard output carries JSON); terminal: whether to draw progress lines.
    CliOutput(QIODevice *events, bool terminal);

    // False with a reason when the journal cannot be opened for appending.
    bool openJournal(const QString &fileName, QString *error);
    void setPorts(const QStringList &ports);
    void event(const QString &port, const QString &line);
    void setProgress(int index, const QString &text);
    // Draws the progress lines again if they changed; a timer calls it a few times a second.
    void redraw();
    // Removes the progress lines, before the table.
    void clearProgress();

    static QString eventLine(const QString &port, const QString &line);

private:
    void write(const QString &text);
    void eraseProgress();
    void drawProgress();

    QIODevice *mEvents;
    bool mTerminal;
    QFile mJournal;
    QStringList mPorts;
    QVector<QString> mProgress;
    int mDrawnLines = 0;
    bool mDirty = false;
    int mPortWidth = 0;
};

#pragma once

#include <QObject>

class QTextDocument;

// Prints every new line of the window's log pane to the terminal as it appears.
// The pane only ever grows at its end, so the lines printed are counted by block.
class LogEcho : public QObject
{
    Q_OBJECT

public:
    explicit LogEcho(QTextDocument *document, QObject *parent = nullptr);

    // Prints what has not been printed yet; also called on every change of the pane.
    void flush();

private:
    QTextDocument *mDocument;
    int mBlocksPrinted = 0;
};

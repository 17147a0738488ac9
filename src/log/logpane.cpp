#include "logpane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>

QString LogPane::lastLine() const
{
    return mView ? mView->document()->lastBlock().text() : QString();
}

void LogPane::append(const QString &line)
{
    if (!mView)
        return;
    QScrollBar *bar = mView->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(mView->document());
    cursor.movePosition(QTextCursor::End);
    if (!mView->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    dropOldestLines();
    if (atEnd)
        bar->setValue(bar->maximum());
}

// A removal at the top makes the view lay out the whole pane again, so the
// oldest lines go a batch at a time: once per trimBatch lines instead of on
// every line, which would cost milliseconds a line with a full pane.
void LogPane::dropOldestLines()
{
    QTextDocument *document = mView->document();
    const int excess = document->blockCount() - maxLines;
    if (excess < trimBatch)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
    cursor.removeSelectedText();
}

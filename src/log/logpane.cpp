#include "logpane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <algorithm>

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
// oldest lines go a batch at a time: once per trimBatch lines, or once per
// characterTrimBatch characters, instead of on every line, which would cost
// milliseconds a line with a full pane.
void LogPane::dropOldestLines()
{
    QTextDocument *document = mView->document();
    const int lineExcess = document->blockCount() - maxLines;
    const int drop = std::max(lineExcess >= trimBatch ? lineExcess : 0, linesOverCharacterBudget());
    if (drop == 0)
        return;
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, drop);
    cursor.removeSelectedText();
}

// How many of the oldest lines must go to bring a pane past its character
// budget a batch below it; 0 within the budget. Never the last line.
int LogPane::linesOverCharacterBudget() const
{
    const QTextDocument *document = mView->document();
    if (document->characterCount() <= maxCharacters)
        return 0;
    const int excess = document->characterCount() - (maxCharacters - characterTrimBatch);
    int lines = 0;
    int freed = 0;
    for (QTextBlock block = document->firstBlock();
         freed < excess && block != document->lastBlock(); block = block.next()) {
        freed += block.length();
        ++lines;
    }
    return lines;
}

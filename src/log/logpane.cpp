#include "logpane.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>

LogPane::LogPane(QTextBrowser *view) : mView(view)
{
    if (mView)
        mView->document()->setMaximumBlockCount(maxLines);
}

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
    if (atEnd)
        bar->setValue(bar->maximum());
}

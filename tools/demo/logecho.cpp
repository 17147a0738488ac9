#include "logecho.h"

#include "console.h"

#include <QTextBlock>
#include <QTextDocument>

LogEcho::LogEcho(QTextDocument *document, QObject *parent) : QObject(parent), mDocument(document)
{
    // Queued: a line is added as a new block first and its text second, so the
    // pane is read only once the whole line is in.
    connect(mDocument, &QTextDocument::contentsChanged, this, &LogEcho::flush,
            Qt::QueuedConnection);
}

void LogEcho::flush()
{
    if (mDocument->isEmpty())
        return;
    const int blocks = mDocument->blockCount();
    for (; mBlocksPrinted < blocks; ++mBlocksPrinted)
        Console::say(QStringLiteral("  log | ") +
                     mDocument->findBlockByNumber(mBlocksPrinted).text());
}

#include "unwrittenrecords.h"

#include "line/journal.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

UnwrittenRecords::UnwrittenRecords(QWidget *parent)
    : QWidget(parent), mLabelTitle(new QLabel(this)), mListLines(new QListWidget(this)),
      mButtonRetry(new QPushButton(QStringLiteral("Повторить запись"), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    mLabelTitle->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    mLabelTitle->setWordWrap(true);
    row->addWidget(mLabelTitle, 1);
    row->addWidget(mButtonRetry);
    layout->addLayout(row);
    mListLines->setStyleSheet(QStringLiteral("color: #c62828;"));
    mListLines->setMaximumHeight(120);
    layout->addWidget(mListLines);
    mListLines->setObjectName(QStringLiteral("listUnwritten"));
    mButtonRetry->setObjectName(QStringLiteral("buttonRetry"));
    connect(mButtonRetry, &QPushButton::clicked, this, &UnwrittenRecords::retry);
    refresh();
}

void UnwrittenRecords::add(const QByteArray &line, const QString &reason)
{
    mLines << line;
    mListLines->addItem(QString::fromUtf8(line).trimmed());
    mLabelTitle->setText(QStringLiteral("Не записаны в журнал (") + reason +
                         QStringLiteral("). Освободите место или дайте права, затем повторите "
                                        "запись"));
    refresh();
}

void UnwrittenRecords::setRetryAllowed(bool allowed)
{
    mRetryAllowed = allowed;
    refresh();
}

void UnwrittenRecords::retry()
{
    Journal journal;
    QString error;
    if (!journal.open(mJournal, &error)) {
        mLabelTitle->setText(error);
        return;
    }
    while (!mLines.isEmpty()) {
        if (!journal.writeLine(mLines.constFirst(), &error)) {
            mLabelTitle->setText(journal.writeFailure(error));
            break;
        }
        mLines.removeFirst();
        delete mListLines->takeItem(0);
    }
    refresh();
}

void UnwrittenRecords::refresh()
{
    setVisible(!mLines.isEmpty());
    mButtonRetry->setEnabled(mRetryAllowed && !mLines.isEmpty());
}

#pragma once

#include <QByteArray>
#include <QList>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// The records of the run that did not reach the journal (a full disk, a
// journal without write permission), in red, each whole with its reason:
// kept here until they are written. "Повторить запись" writes them, in
// order, into the journal once no watch holds it.
class UnwrittenRecords : public QWidget
{
    Q_OBJECT

public:
    explicit UnwrittenRecords(QWidget *parent = nullptr);

    void add(const QByteArray &line, const QString &reason);
    // The journal the lines belong in; the retry is offered only while allowed.
    void setJournal(const QString &fileName) { mJournal = fileName; }
    void setRetryAllowed(bool allowed);
    int count() const { return mLines.size(); }
    // Writes what it can; the lines written leave the list.
    void retry();

private:
    void refresh();

    QLabel *mLabelTitle;
    QListWidget *mListLines;
    QPushButton *mButtonRetry;
    QList<QByteArray> mLines;
    QString mJournal;
    bool mRetryAllowed = true;
};

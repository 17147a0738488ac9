#pragma once

#include "line/journalexport.h"

#include <QDialog>

class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QThread;

// "Экспорт в Excel…": the journals (the bench's own, others added), a day or
// a range of days and the workbook's name. The export reads and writes on a
// thread of its own, so the bench's tiles go on moving; its result or its
// error stays in the dialog.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportDialog(const QStringList &journals, QWidget *parent = nullptr);
    ~ExportDialog() override;

    bool busy() const { return mThreadExport != nullptr; }
    QString resultText() const;

signals:
    void signal_finished(bool ok);

public slots:
    void reject() override;

private:
    void slot_mButtonExport_clicked();
    void slot_mButtonTarget_clicked();
    void slot_mButtonAddJournal_clicked();
    void slot_mDateFrom_dateChanged(const QDate &date);
    void slot_mDateTo_dateChanged(const QDate &date);
    void proposeTarget();
    QStringList journals() const;
    void showOutcome(const JournalExport::Outcome &outcome, const QString &target);
    void showError(const QString &text);

    QListWidget *mListJournals;
    QPushButton *mButtonAddJournal;
    QDateEdit *mDateFrom;
    QDateEdit *mDateTo;
    QLineEdit *mEditTarget;
    QPushButton *mButtonTarget;
    QPushButton *mButtonExport;
    QPushButton *mButtonClose;
    QLabel *mLabelResult;
    QThread *mThreadExport = nullptr;
    bool mTargetChosen = false; // by the operator: the days no longer rename it
};

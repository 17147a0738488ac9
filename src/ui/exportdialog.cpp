#include "exportdialog.h"

#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <memory>

namespace {
const char dateFormat[] = "dd.MM.yyyy";
const QString suffix = QStringLiteral(".xlsx");
const QString okStyle = QStringLiteral("color: #1b5e20;");
const QString errorStyle = QStringLiteral("color: #c62828;");
} // namespace

ExportDialog::ExportDialog(const QStringList &journals, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Экспорт журнала в Excel"));
    mListJournals = new QListWidget(this);
    for (const QString &journal : journals) {
        if (!journal.isEmpty())
            mListJournals->addItem(QDir::toNativeSeparators(journal));
    }
    mListJournals->setMaximumHeight(mListJournals->sizeHintForRow(0) * 4 + 8);
    mButtonAddJournal = new QPushButton(QStringLiteral("Добавить журнал…"), this);
    const QDate today = QDate::currentDate();
    mDateFrom = new QDateEdit(today, this);
    mDateTo = new QDateEdit(today, this);
    for (QDateEdit *edit : {mDateFrom, mDateTo}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QLatin1String(dateFormat));
        edit->setLocale(QLocale(QLocale::Russian, QLocale::Russia)); // the calendar's month names
    }
    mEditTarget = new QLineEdit(this);
    mButtonTarget = new QPushButton(QStringLiteral("Выбрать…"), this);
    mButtonExport = new QPushButton(QStringLiteral("Выгрузить"), this);
    mButtonExport->setDefault(true);
    mButtonClose = new QPushButton(QStringLiteral("Закрыть"), this);
    mLabelResult = new QLabel(this);
    mLabelResult->setWordWrap(true);
    mLabelResult->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *journalRow = new QHBoxLayout;
    journalRow->addWidget(mListJournals, 1);
    journalRow->addWidget(mButtonAddJournal, 0, Qt::AlignTop);
    auto *days = new QHBoxLayout;
    days->addWidget(mDateFrom);
    days->addWidget(new QLabel(QStringLiteral("по"), this));
    days->addWidget(mDateTo);
    days->addStretch(1);
    auto *targetRow = new QHBoxLayout;
    targetRow->addWidget(mEditTarget, 1);
    targetRow->addWidget(mButtonTarget);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Журналы:"), journalRow);
    form->addRow(QStringLiteral("Дни с:"), days);
    form->addRow(QStringLiteral("Файл Excel:"), targetRow);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(mButtonExport);
    buttons->addWidget(mButtonClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(mLabelResult);
    layout->addLayout(buttons);
    setMinimumWidth(640);

    // Names for tests that drive the dialog.
    mListJournals->setObjectName(QStringLiteral("listJournals"));
    mDateFrom->setObjectName(QStringLiteral("dateFrom"));
    mDateTo->setObjectName(QStringLiteral("dateTo"));
    mEditTarget->setObjectName(QStringLiteral("editTarget"));
    mButtonExport->setObjectName(QStringLiteral("buttonExport"));
    mLabelResult->setObjectName(QStringLiteral("labelResult"));

    proposeTarget();
    connect(mButtonAddJournal, &QPushButton::clicked, this,
            &ExportDialog::slot_mButtonAddJournal_clicked);
    connect(mButtonTarget, &QPushButton::clicked, this, &ExportDialog::slot_mButtonTarget_clicked);
    connect(mButtonExport, &QPushButton::clicked, this, &ExportDialog::slot_mButtonExport_clicked);
    connect(mButtonClose, &QPushButton::clicked, this, &ExportDialog::reject);
    connect(mDateFrom, &QDateEdit::dateChanged, this, &ExportDialog::slot_mDateFrom_dateChanged);
    connect(mDateTo, &QDateEdit::dateChanged, this, &ExportDialog::slot_mDateTo_dateChanged);
    connect(mEditTarget, &QLineEdit::textEdited, this, [this] { mTargetChosen = true; });
}

// The dialog goes only when its export is over: the thread writes into the file.
ExportDialog::~ExportDialog()
{
    if (mThreadExport) {
        mThreadExport->wait();
        delete mThreadExport;
    }
}

void ExportDialog::reject()
{
    if (!busy())
        QDialog::reject();
}

QString ExportDialog::resultText() const
{
    return mLabelResult->text();
}

QStringList ExportDialog::journals() const
{
    QStringList files;
    for (int i = 0; i < mListJournals->count(); ++i)
        files << QDir::fromNativeSeparators(mListJournals->item(i)->text());
    return files;
}

// Beside the first journal, named after it and the days: "lorta-journal-2026-12-09.xlsx".
void ExportDialog::proposeTarget()
{
    if (mTargetChosen)
        return;
    const QStringList files = journals();
    const QFileInfo first(files.value(0));
    const QString folder = files.isEmpty() ? QDir::homePath() : first.absolutePath();
    const QString base = files.isEmpty() ? QStringLiteral("journal") : first.completeBaseName();
    QString days = mDateFrom->date().toString(Qt::ISODate);
    if (mDateTo->date() != mDateFrom->date())
        days += QStringLiteral("--") + mDateTo->date().toString(Qt::ISODate);
    mEditTarget->setText(
        QDir::toNativeSeparators(QDir(folder).filePath(base + QLatin1Char('-') + days + suffix)));
}

void ExportDialog::slot_mDateFrom_dateChanged(const QDate &date)
{
    if (mDateTo->date() < date)
        mDateTo->setDate(date);
    proposeTarget();
}

void ExportDialog::slot_mDateTo_dateChanged(const QDate &date)
{
    if (mDateFrom->date() > date)
        mDateFrom->setDate(date);
    proposeTarget();
}

void ExportDialog::slot_mButtonAddJournal_clicked()
{
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Журналы"), QFileInfo(journals().value(0)).absolutePath(),
        QStringLiteral("Журналы (*.csv);;Все файлы (*)"), nullptr,
        QFileDialog::DontUseNativeDialog);
    for (const QString &file : files)
        mListJournals->addItem(QDir::toNativeSeparators(file));
    proposeTarget();
}

void ExportDialog::slot_mButtonTarget_clicked()
{
    QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Файл Excel"), mEditTarget->text(),
        QStringLiteral("Книга Excel (*.xlsx)"), nullptr, QFileDialog::DontUseNativeDialog);
    if (file.isEmpty())
        return;
    if (!file.endsWith(suffix, Qt::CaseInsensitive))
        file += suffix;
    mEditTarget->setText(QDir::toNativeSeparators(file));
    mTargetChosen = true;
}

void ExportDialog::slot_mButtonExport_clicked()
{
    JournalExport job;
    job.journals = journals();
    job.from = mDateFrom->date();
    job.to = mDateTo->date();
    job.target = QDir::fromNativeSeparators(mEditTarget->text().trimmed());
    if (job.journals.isEmpty())
        return showError(QStringLiteral("Не выбран ни один журнал: добавьте журнал."));
    if (job.target.isEmpty())
        return showError(QStringLiteral("Не указан файл Excel: выберите, куда сохранить таблицу."));
    mButtonExport->setEnabled(false);
    mButtonClose->setEnabled(false);
    mLabelResult->setStyleSheet(QString());
    mLabelResult->setText(QStringLiteral("Выгрузка…"));
    auto outcome = std::make_shared<JournalExport::Outcome>();
    mThreadExport = QThread::create([job, outcome] { *outcome = job.run(); });
    connect(mThreadExport, &QThread::finished, this, [this, outcome, target = job.target] {
        mThreadExport->wait();
        delete std::exchange(mThreadExport, nullptr);
        showOutcome(*outcome, target);
    });
    mThreadExport->start();
}

void ExportDialog::showOutcome(const JournalExport::Outcome &outcome, const QString &target)
{
    mButtonExport->setEnabled(true);
    mButtonClose->setEnabled(true);
    if (outcome.ok) {
        mLabelResult->setStyleSheet(okStyle);
        mLabelResult->setText(JournalExport::summary(outcome, target));
    } else {
        showError(outcome.error);
    }
    emit signal_finished(outcome.ok);
}

void ExportDialog::showError(const QString &text)
{
    mLabelResult->setStyleSheet(errorStyle);
    mLabelResult->setText(text);
}

#include "journalexport.h"

#include "journalreader.h"
#include "runfiles.h"
#include "xlsxexport.h"

#include <QDir>

JournalExport::Outcome JournalExport::run() const
{
    Outcome outcome;
    // The workbook must never take a journal's place.
    const QString targetKey = RunFiles::key(target);
    for (const QString &journal : journals) {
        if (RunFiles::key(journal) == targetKey) {
            outcome.error = QStringLiteral("Файл ") + target +
                            QStringLiteral(" — это журнал, его нельзя заменить таблицей. Выберите "
                                           "для таблицы другое имя.");
            return outcome;
        }
    }
    JournalReader reader;
    reader.setRange(from, to);
    for (const QString &journal : journals) {
        if (!reader.read(journal, &outcome.error))
            return outcome;
    }
    const QList<JournalReader::Row> rows = reader.rows();
    outcome.skipped = reader.skipped();
    if (!XlsxExport::write(target, rows, &outcome.error))
        return outcome;
    outcome.ok = true;
    outcome.exported = rows.size();
    return outcome;
}

QString JournalExport::summary(const Outcome &outcome, const QString &target)
{
    QString text = QStringLiteral("Выгружено записей: %1 в файл %2")
                       .arg(outcome.exported)
                       .arg(QDir::toNativeSeparators(target));
    if (outcome.skipped > 0)
        text += QStringLiteral("; пропущено строк, которые не удалось прочитать: %1")
                    .arg(outcome.skipped);
    return text + QLatin1Char('.');
}

#include "reportarguments.h"

#include "fleet/pglink.h"
#include "serverreport.h"

#include <QIODevice>
#include <QRegularExpression>

namespace {
constexpr int exported = 0;
constexpr int failed = 1;
constexpr int usageError = 2;

std::optional<ReportArguments> refuse(QString *error, const QString &reason)
{
    *error = reason;
    return std::nullopt;
}

// A day as YYYY-MM-DD, and a real one: 2026-02-30 is refused.
std::optional<QDate> day(const QString &option, const QString &value, QString *error)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    const QDate date = form.match(value).hasMatch()
                           ? QDate::fromString(value, QStringLiteral("yyyy-MM-dd"))
                           : QDate();
    if (!date.isValid()) {
        *error = option + QStringLiteral(": нужна дата в виде ГГГГ-ММ-ДД, например 2026-12-09: ") +
                 value;
        return std::nullopt;
    }
    return date;
}

bool isHelp(const QString &argument)
{
    return argument == QLatin1String("--help") || argument == QLatin1String("-h");
}

// Where an option's text goes; null for a day's option.
QString *textOption(ReportArguments *result, const QString &argument)
{
    if (argument == QLatin1String("--xlsx"))
        return &result->job.target;
    if (argument == QLatin1String("--db"))
        return &result->conninfo;
    if (argument == QLatin1String("--bench"))
        return &result->bench;
    return nullptr;
}

// Journals into a workbook: the options of the server's report have no place here.
std::optional<ReportArguments> checkJournals(ReportArguments result, QString *error)
{
    if (result.json || !result.bench.isEmpty())
        return refuse(error, QString::fromLatin1(result.json ? "--json" : "--bench") +
                                 QStringLiteral(" только вместе с --db"));
    if (result.job.journals.isEmpty())
        return refuse(error, QStringLiteral("report: не указан ни один журнал"));
    if (result.job.target.isEmpty())
        return refuse(error, QStringLiteral("report: не указан файл --xlsx"));
    return result;
}

// The server's report: journals are not read, and the password stays out of the command line.
std::optional<ReportArguments> checkServer(ReportArguments result, QString *error)
{
    if (!result.job.journals.isEmpty())
        return refuse(error, QStringLiteral("report --db читает базу, журналы не указывают: ") +
                                 result.job.journals.constFirst());
    const QString fault = PgLink::conninfoFault(result.conninfo);
    if (!fault.isEmpty())
        return refuse(error, QStringLiteral("--db: ") + fault);
    return result;
}
} // namespace

std::optional<ReportArguments> ReportArguments::parse(const QStringList &arguments, QString *error)
{
    ReportArguments result;
    const QStringList valued{"--xlsx", "--from", "--to", "--db", "--bench"};
    for (int i = 0; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (isHelp(argument)) {
            result.help = true;
            return result;
        }
        if (argument == QLatin1String("--json")) {
            result.json = true;
            continue;
        }
        if (!valued.contains(argument)) {
            if (argument.startsWith(QLatin1String("--")))
                return refuse(error, QStringLiteral("неизвестный параметр: ") + argument);
            if (argument.isEmpty())
                return refuse(error, QStringLiteral("пустое имя журнала"));
            result.job.journals << argument;
            continue;
        }
        if (i + 1 >= arguments.size() || arguments.at(i + 1).startsWith(QLatin1String("--")) ||
            arguments.at(i + 1).isEmpty())
            return refuse(error, QStringLiteral("нет значения у параметра ") + argument);
        const QString value = arguments.at(++i);
        if (QString *text = textOption(&result, argument)) {
            *text = value;
            continue;
        }
        const std::optional<QDate> date = day(argument, value, error);
        if (!date)
            return std::nullopt;
        (argument == QLatin1String("--from") ? result.job.from : result.job.to) = *date;
    }
    if (!result.job.from.isNull() && !result.job.to.isNull() && result.job.from > result.job.to)
        return refuse(error, QStringLiteral("--from позже --to: ") +
                                 result.job.from.toString(Qt::ISODate) + QStringLiteral(" > ") +
                                 result.job.to.toString(Qt::ISODate));
    return result.conninfo.isEmpty() ? checkJournals(result, error) : checkServer(result, error);
}

QString ReportArguments::usage()
{
    return QStringLiteral("  lorta-flash-cli report JOURNAL [JOURNAL ...] --xlsx FILE "
                          "[--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
                          "  lorta-flash-cli report --db CONNINFO [--from YYYY-MM-DD] "
                          "[--to YYYY-MM-DD] [--bench NAME] [--json] [--xlsx FILE]\n");
}

int runReport(const QStringList &arguments, QIODevice *out, QIODevice *err)
{
    QString error;
    const std::optional<ReportArguments> parsed = ReportArguments::parse(arguments, &error);
    if (!parsed) {
        err->write(("lorta-flash-cli: " + error + '\n' + ReportArguments::usage()).toUtf8());
        return usageError;
    }
    if (parsed->help) {
        out->write(ReportArguments::usage().toUtf8());
        return exported;
    }
    if (!parsed->conninfo.isEmpty())
        return runServerReport(*parsed, out, err);
    const JournalExport::Outcome outcome = parsed->job.run();
    if (!outcome.ok) {
        err->write(("lorta-flash-cli: " + outcome.error + '\n').toUtf8());
        return failed;
    }
    out->write((JournalExport::summary(outcome, parsed->job.target) + '\n').toUtf8());
    return exported;
}

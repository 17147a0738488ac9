#include "watcharguments.h"

#include "fleet/pglink.h"

#include <QRegularExpression>

namespace {
constexpr int maxCount = 1000000;
constexpr int maxSeconds = 86400;

// Seconds, decimals allowed ("1.5"), at least 1, or 0 for none: the same for
// every time an option of the watch takes.
std::optional<int> secondsAsMs(const QString &option, const QString &value, QString *error)
{
    static const QRegularExpression seconds(QStringLiteral("^[0-9]{1,5}(\\.[0-9]{1,3})?$"));
    const double given = seconds.match(value).hasMatch() ? value.toDouble() : -1;
    if (given != 0 && (given < 1 || given > maxSeconds)) {
        *error = option + QStringLiteral(": нужно число секунд от 1 до 86400 (0 — без предела): ") +
                 value;
        return std::nullopt;
    }
    return qRound(given * 1000);
}

std::optional<WatchArguments> refuse(QString *error, const QString &reason)
{
    *error = reason;
    return std::nullopt;
}

bool takeValue(WatchArguments &result, QStringList &match, const QString &option,
               const QString &value, QString *error)
{
    if (value.isEmpty()) {
        *error = QStringLiteral("пустое значение у параметра ") + option;
        return false;
    }
    if (option == QLatin1String("--match")) {
        match << value;
    } else if (option == QLatin1String("--settings")) {
        result.options.settingsFile = value;
        result.settingsGiven = true;
    } else if (option == QLatin1String("--journal")) {
        result.options.journalFile = value;
    } else if (option == QLatin1String("--bench")) {
        result.options.benchName = value;
    } else if (option == QLatin1String("--db")) {
        result.options.database = value;
    } else if (option == QLatin1String("--provision-db")) {
        result.options.provisionDb = value;
    } else if (option == QLatin1String("--provision")) {
        result.options.provisionFile = value;
    } else if (option == QLatin1String("--provision-low")) {
        static const QRegularExpression rows(QStringLiteral("^[0-9]{1,6}$"));
        if (!rows.match(value).hasMatch()) {
            *error =
                QStringLiteral("--provision-low: нужно целое число строк от 0 до 999999: ") + value;
            return false;
        }
        result.options.provisionLow = value.toInt();
    } else if (option == QLatin1String("--answer-within")) {
        const std::optional<int> ms = secondsAsMs(option, value, error);
        if (!ms)
            return false;
        result.options.answerWithinMs = *ms;
    } else if (option == QLatin1String("--gone-after")) {
        const std::optional<int> ms = secondsAsMs(option, value, error);
        if (!ms)
            return false;
        result.options.goneAfterMs = *ms;
    } else if (option == QLatin1String("--quarantine")) {
        static const QRegularExpression small(QStringLiteral("^[0-9]{1,3}$"));
        if (!small.match(value).hasMatch()) {
            *error = QStringLiteral("--quarantine: нужно целое число от 0 до 999 (0 — не "
                                    "отключать гнёзда): ") +
                     value;
            return false;
        }
        result.options.quarantine = value.toInt();
    } else {
        // Digits only: toInt() would also take " 5" or "+5".
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,7}$"));
        bool ok = digits.match(value).hasMatch();
        const int count = ok ? value.toInt(&ok) : 0;
        if (!ok || count <= 0 || count > maxCount) {
            *error = QStringLiteral("--count: нужно целое число от 1 до 1000000: ") + value;
            return false;
        }
        result.options.count = count;
    }
    return true;
}
} // namespace

std::optional<WatchArguments> WatchArguments::parse(const QStringList &arguments, QString *error)
{
    WatchArguments result;
    const QString job = arguments.value(0);
    if (job == QLatin1String("flash"))
        result.options.job = OperationType::Flash;
    else if (job == QLatin1String("load-settings"))
        result.options.job = OperationType::LoadSettings;
    else
        return refuse(error, QStringLiteral("watch: нужно задание flash или load-settings"));
    result.options.jobName = job;
    const QStringList valued{
        "--match",         "--settings",      "--journal",    "--count",
        "--answer-within", "--gone-after",    "--quarantine", "--bench",
        "--provision",     "--provision-low", "--db",         "--provision-db"};
    QStringList match;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString option = arguments.at(i);
        if (option == QLatin1String("--json")) {
            result.json = true;
        } else if (option == QLatin1String("--include-present")) {
            result.options.includePresent = true;
        } else if (option == QLatin1String("--again")) {
            result.options.again = true;
        } else if (valued.contains(option)) {
            if (i + 1 >= arguments.size())
                return refuse(error, QStringLiteral("нет значения у параметра ") + option);
            if (!takeValue(result, match, option, arguments.at(++i), error))
                return std::nullopt;
        } else {
            return refuse(error, QStringLiteral("неизвестный параметр: ") + option);
        }
    }
    QString bad;
    const std::optional<UsbIdFilter> filter = UsbIdFilter::parse(match, &bad);
    if (!filter)
        return refuse(error, QStringLiteral("--match: нужно VID:PID в шестнадцатеричном виде, "
                                            "например 0403:6001: ") +
                                 bad);
    result.options.filter = *filter;
    const WatchOptions &options = result.options;
    if (arguments.contains(QStringLiteral("--provision-low")) && options.provisionFile.isEmpty() &&
        options.provisionDb.isEmpty())
        return refuse(
            error,
            QStringLiteral("--provision-low применим только с --provision или --provision-db"));
    if (!options.provisionDb.isEmpty() && options.database.isEmpty())
        return refuse(error, QStringLiteral("--provision-db применим только с --db"));
    if (!options.provisionDb.isEmpty() && !options.provisionFile.isEmpty())
        return refuse(error, QStringLiteral("Таблица настроек — либо файл (--provision), либо "
                                            "из базы (--provision-db), не обе"));
    const QString fault =
        options.database.isEmpty() ? QString() : PgLink::conninfoFault(options.database);
    if (!fault.isEmpty())
        return refuse(error, QStringLiteral("--db: ") + fault);
    const QString conflict = result.options.fileConflict();
    if (!conflict.isEmpty())
        return refuse(error, conflict);
    return result;
}

QString WatchArguments::usage()
{
    return QStringLiteral("  lorta-flash-cli watch flash|load-settings [--match VID:PID ...] "
                          "[--include-present]\n"
                          "                        [--settings FILE] [--journal FILE] "
                          "[--count N] [--json]\n"
                          "                        [--answer-within S] [--gone-after S] "
                          "[--again]\n"
                          "                        [--quarantine N] [--bench NAME]\n"
                          "                        [--provision FILE [--provision-low N]]\n"
                          "                        [--db CONNINFO [--provision-db NAME]]\n"
                          "      --bench NAME      имя стенда в каждой строке журнала "
                          "(по умолчанию имя компьютера)\n"
                          "      --provision FILE  таблица настроек: каждому модему своя "
                          "строка (по IMEI или по порядку)\n"
                          "      --provision-low N предупреждать, когда строк осталось N "
                          "(по умолчанию 10)\n"
                          "      --db CONNINFO     база данных цеха (строка подключения libpq "
                          "или postgresql://…):\n"
                          "                        записи журнала уходят и туда; пароль — в "
                          ".pgpass или PGPASSWORD\n"
                          "      --provision-db NAME таблица настроек из базы, по её имени\n");
}

#include "cliarguments.h"

#include "line/runfiles.h"
#include "line/usedrows.h"
#include "provisionarguments.h"
#include "reportarguments.h"
#include "watcharguments.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace {
constexpr int maxConnectTimeoutS = 24 * 3600;

std::optional<OperationType> jobNamed(const QString &name)
{
    if (name == QLatin1String("flash"))
        return OperationType::Flash;
    if (name == QLatin1String("load-settings"))
        return OperationType::LoadSettings;
    if (name == QLatin1String("read-settings"))
        return OperationType::ReadSettings;
    if (name == QLatin1String("clear"))
        return OperationType::Clear;
    return std::nullopt;
}

std::optional<CliArguments> refuse(QString *error, const QString &reason)
{
    *error = reason;
    return std::nullopt;
}

// The options that take a value, and where each one goes.
bool takeValue(CliArguments &result, const QString &option, const QString &value, QString *error)
{
    if (value.isEmpty()) {
        *error = QStringLiteral("пустое значение у параметра ") + option;
        return false;
    }
    if (option == QLatin1String("--port")) {
        result.ports << value;
    } else if (option == QLatin1String("--settings")) {
        result.settingsFile = value;
        result.settingsGiven = true;
    } else if (option == QLatin1String("--out")) {
        result.outFile = value;
    } else if (option == QLatin1String("--provision")) {
        result.provisionFile = value;
    } else if (option == QLatin1String("--log")) {
        result.logFile = value;
    } else {
        // Digits only: toInt() would also take " 5" or "+5".
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,6}$"));
        bool ok = digits.match(value).hasMatch();
        const int seconds = ok ? value.toInt(&ok) : 0;
        if (!ok || seconds <= 0 || seconds > maxConnectTimeoutS) {
            *error = QStringLiteral("--connect-timeout: нужно целое число секунд от 1 до 86400: ") +
                     value;
            return false;
        }
        result.connectTimeoutS = seconds;
    }
    return true;
}

std::optional<CliArguments> checkJob(CliArguments result, QString *error)
{
    if (result.ports.isEmpty())
        return refuse(error, QStringLiteral("не указан ни один --port"));
    QSet<QString> seen;
    for (const QString &port : qAsConst(result.ports)) {
        const QString key = CliArguments::portKey(port);
        if (seen.contains(key))
            return refuse(error, QStringLiteral("порт указан дважды: ") + port);
        seen.insert(key);
    }
    const bool writes =
        result.job == OperationType::Flash || result.job == OperationType::LoadSettings;
    if (result.settingsGiven && !writes)
        return refuse(error, QStringLiteral("--settings применим только к flash и load-settings"));
    if (!result.provisionFile.isEmpty() && !writes)
        return refuse(error, QStringLiteral("--provision применим только к flash и load-settings"));
    if (!result.outFile.isEmpty() && result.job != OperationType::ReadSettings)
        return refuse(error, QStringLiteral("--out применим только к read-settings"));
    if (!result.outFile.isEmpty() && result.ports.size() > 1)
        return refuse(error, QStringLiteral("--out допустим только с одним портом; с несколькими "
                                            "копии называются settings-<порт>.ini"));
    const QString conflict = result.fileConflict();
    if (!conflict.isEmpty())
        return refuse(error, conflict);
    return result;
}

bool isHelp(const QString &argument)
{
    return argument == QLatin1String("--help") || argument == QLatin1String("-h");
}

} // namespace

std::optional<CliArguments> CliArguments::parse(const QStringList &arguments, QString *error)
{
    CliArguments result;
    if (arguments.isEmpty())
        return refuse(error, QStringLiteral("не указана команда"));
    if (isHelp(arguments.first()))
        return result;
    const QString first = arguments.first();
    if (first == QLatin1String("ports")) {
        if (arguments.size() > 1)
            return refuse(error, QStringLiteral("команда ports не принимает параметров: ") +
                                     arguments.at(1));
        result.command = Command::Ports;
        return result;
    }
    const std::optional<OperationType> job = jobNamed(first);
    if (!job)
        return refuse(error, QStringLiteral("неизвестная команда: ") + first);
    result.command = Command::Job;
    result.job = *job;
    result.jobName = first;
    const QStringList valued{"--port", "--settings",        "--out",
                             "--log",  "--connect-timeout", "--provision"};
    for (int i = 1; i < arguments.size(); ++i) {
        const QString option = arguments.at(i);
        if (option == QLatin1String("--json")) {
            result.json = true;
        } else if (isHelp(option)) {
            result.command = Command::Help;
            return result;
        } else if (valued.contains(option)) {
            // An option in a value's place ("--port -h") means the value is missing.
            if (i + 1 >= arguments.size() || isHelp(arguments.at(i + 1)) ||
                arguments.at(i + 1).startsWith(QLatin1String("--")))
                return refuse(error, QStringLiteral("нет значения у параметра ") + option);
            if (!takeValue(result, option, arguments.at(++i), error))
                return std::nullopt;
        } else {
            return refuse(error, QStringLiteral("неизвестный параметр: ") + option);
        }
    }
    return checkJob(result, error);
}

QString CliArguments::usage()
{
    const QString jobs = QStringLiteral(
        "Использование:\n"
        "  lorta-flash-cli ports\n"
        "  lorta-flash-cli flash          --port NAME [--port NAME ...] [--settings FILE] "
        "[options]\n"
        "  lorta-flash-cli load-settings  --port NAME [--port NAME ...] [--settings FILE] "
        "[options]\n"
        "  lorta-flash-cli read-settings  --port NAME [--port NAME ...] [--out FILE]      "
        "[options]\n"
        "  lorta-flash-cli clear          --port NAME [--port NAME ...]                    "
        "[options]\n"
        "options: --connect-timeout S (default 10)  --json  --log FILE  --help\n"
        "         --provision FILE (flash, load-settings): таблица настроек, каждому модему "
        "своя строка по IMEI\n");
    return jobs + WatchArguments::usage() + ReportArguments::usage() + ProvisionArguments::usage();
}

QString CliArguments::portKey(const QString &name)
{
#ifdef Q_OS_WIN
    QString key = name.toUpper();
    if (key.startsWith(QLatin1String("\\\\.\\")))
        key = key.mid(4);
    return key;
#else
    // As the serial port layer names the device: only an absolute path or one
    // starting with ./ or ../ is taken as it is; "pts/3" is /dev/pts/3.
    const bool asGiven = name.startsWith(QLatin1Char('/')) ||
                         name.startsWith(QLatin1String("./")) ||
                         name.startsWith(QLatin1String("../"));
    const QString path = asGiven ? name : QStringLiteral("/dev/") + name;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
#endif
}

// Each file the run writes or sends must be a file of its own: the journal
// must not land in the settings sent to the modems, nor two ports' copies in one file.
QString CliArguments::fileConflict() const
{
    QList<QPair<QString, QString>> files; // what the file is for, its name
    if (job == OperationType::Flash || job == OperationType::LoadSettings)
        files.append({QStringLiteral("--settings"), settingsFile});
    if (!logFile.isEmpty())
        files.append({QStringLiteral("--log"), logFile});
    if (!provisionFile.isEmpty()) {
        files.append({QStringLiteral("--provision"), provisionFile});
        files.append({QStringLiteral("выданных строк таблицы"), UsedRows::fileFor(provisionFile)});
    }
    if (job == OperationType::ReadSettings) {
        for (const QString &port : ports)
            files.append({QStringLiteral("копия настроек порта ") + port, readTargetFor(port)});
    }
    return RunFiles::conflict(files);
}

QString CliArguments::readTargetFor(const QString &port) const
{
    if (!outFile.isEmpty())
        return outFile;
    QString name = port.startsWith(QLatin1String("/dev/")) ? port.mid(5) : port;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return QStringLiteral("settings-") + name + QStringLiteral(".ini");
}

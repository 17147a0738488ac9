#include "provisionarguments.h"

#include "fleet/fleetconnection.h"
#include "fleet/fleetimport.h"
#include "line/provisiontable.h"
#include "settings/settingsfile.h"

#include <QEventLoop>
#include <QIODevice>

namespace {
constexpr int loaded = 0;
constexpr int failed = 1;
constexpr int usageError = 2;

std::optional<ProvisionArguments> refuse(QString *error, const QString &reason)
{
    *error = reason;
    return std::nullopt;
}

bool isHelp(const QString &argument)
{
    return argument == QLatin1String("--help") || argument == QLatin1String("-h");
}

// Why the parsed command cannot run; empty when it can.
QString missing(const ProvisionArguments &result)
{
    if (result.file.isEmpty())
        return QStringLiteral("provision import: не указан файл таблицы");
    if (result.name.isEmpty())
        return QStringLiteral("provision import: не указано имя таблицы --name");
    if (result.conninfo.isEmpty())
        return QStringLiteral("provision import: не указана база --db");
    return PgLink::conninfoFault(result.conninfo);
}

void print(QIODevice *device, const QString &line)
{
    device->write((line + QLatin1Char('\n')).toUtf8());
}

int fail(QIODevice *err, const QString &error)
{
    print(err, QStringLiteral("lorta-flash-cli: ") + error);
    return failed;
}
} // namespace

std::optional<ProvisionArguments> ProvisionArguments::parse(const QStringList &arguments,
                                                            QString *error)
{
    ProvisionArguments result;
    if (!arguments.isEmpty() && isHelp(arguments.constFirst())) {
        result.help = true;
        return result;
    }
    if (arguments.value(0) != QLatin1String("import"))
        return refuse(error, QStringLiteral("provision: нужна команда import"));
    for (int i = 1; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (isHelp(argument)) {
            result.help = true;
            return result;
        }
        if (argument == QLatin1String("--append")) {
            result.append = true;
            continue;
        }
        QString *target = argument == QLatin1String("--name") ? &result.name
                          : argument == QLatin1String("--db") ? &result.conninfo
                                                              : nullptr;
        if (target) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty())
                return refuse(error, QStringLiteral("нет значения у параметра ") + argument);
            *target = arguments.at(++i);
            continue;
        }
        if (argument.startsWith(QLatin1String("--")))
            return refuse(error, QStringLiteral("неизвестный параметр: ") + argument);
        if (!result.file.isEmpty())
            return refuse(error, QStringLiteral("provision import: файл таблицы указан дважды"));
        result.file = argument;
    }
    const QString fault = missing(result);
    if (!fault.isEmpty())
        return refuse(error, fault);
    return result;
}

QString ProvisionArguments::usage()
{
    return QStringLiteral("  lorta-flash-cli provision import FILE --name NAME --db CONNINFO "
                          "[--append]\n");
}

int runProvision(const QStringList &arguments, QIODevice *out, QIODevice *err,
                 const FleetTiming &timing)
{
    QString error;
    const std::optional<ProvisionArguments> parsed = ProvisionArguments::parse(arguments, &error);
    if (!parsed) {
        err->write(("lorta-flash-cli: " + error + '\n' + ProvisionArguments::usage()).toUtf8());
        return usageError;
    }
    if (parsed->help) {
        out->write(ProvisionArguments::usage().toUtf8());
        return loaded;
    }
    // The checks a bench makes of a table file, over the template's values:
    // the bench composes each row over its own settings again when it gives it.
    ProvisionTable table;
    if (!table.load(parsed->file, defaultSettings(), &error))
        return fail(err, error);
    FleetConnection connection(parsed->conninfo, timing);
    FleetImport::Outcome outcome;
    QEventLoop loop;
    FleetImport::run(&connection, &loop, parsed->name, table, parsed->append,
                     [&outcome, &loop](const FleetImport::Outcome &answer) {
                         outcome = answer;
                         loop.quit();
                     });
    loop.exec();
    if (!outcome.error.isEmpty())
        return fail(err, outcome.error);
    print(out, FleetImport::loadedText(parsed->name, outcome.rows));
    return loaded;
}

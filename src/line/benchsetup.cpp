#include "benchsetup.h"

#include "fleet/pglink.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString jobKey = QStringLiteral("bench/job");
const QString settingsKey = QStringLiteral("bench/settings");
const QString provisionKey = QStringLiteral("bench/provision");
const QString provisionDbKey = QStringLiteral("bench/provisionDb");
const QString databaseKey = QStringLiteral("bench/database");
const QString filterKey = QStringLiteral("bench/filter");
const QString journalKey = QStringLiteral("bench/journal");
const QString nameKey = QStringLiteral("bench/name");
const QString startKey = QStringLiteral("bench/startAtLaunch");
const QString quarantineKey = QStringLiteral("line/quarantine");
const QString goneKey = QStringLiteral("line/goneAfterSeconds");
const QStringList jobNames = {QStringLiteral("flash"), QStringLiteral("load-settings")};

QString stored(const QDir &folder, const QString &path)
{
    if (path.isEmpty())
        return path;
    const QString absolute = QDir::cleanPath(folder.absoluteFilePath(path));
    const QString relative = folder.relativeFilePath(absolute);
    return relative.startsWith(QStringLiteral("..")) ? absolute : relative;
}

QString restored(const QDir &folder, const QString &path)
{
    return path.isEmpty() ? path : QDir::cleanPath(folder.absoluteFilePath(path));
}

// A whole number in [0, max]; nothing for anything else.
std::optional<int> number(const QSettings &ini, const QString &key, int fallback, int max)
{
    if (!ini.contains(key))
        return fallback;
    bool ok = false;
    const int value = ini.value(key).toString().trimmed().toInt(&ok);
    if (!ok || value < 0 || value > max)
        return std::nullopt;
    return value;
}
} // namespace

QString BenchSetup::problem() const
{
    if (!provisionDb.isEmpty() && !provisionFile.isEmpty())
        return QStringLiteral("Таблица настроек — либо файл, либо таблица в базе, не обе");
    if (!provisionDb.isEmpty() && database.isEmpty())
        return QStringLiteral("Таблица в базе выбрана, а база данных не задана");
    return database.isEmpty() ? QString() : PgLink::conninfoFault(database);
}

bool BenchSetup::save(const QString &fileName, QString *error) const
{
    const QString refused = problem();
    if (!refused.isEmpty()) {
        // Nothing is written: a password never reaches the file.
        *error = QStringLiteral("Настройка стенда не сохранена: ") + refused;
        return false;
    }
    const QDir folder = QFileInfo(fileName).absoluteDir();
    QSettings ini(fileName, QSettings::IniFormat);
    ini.setIniCodec("UTF-8"); // the names and paths stay readable in an editor
    ini.clear();
    ini.setValue(jobKey, jobNames.value(job));
    ini.setValue(settingsKey, stored(folder, settingsFile));
    ini.setValue(provisionKey, stored(folder, provisionFile));
    ini.setValue(provisionDbKey, provisionDb);
    ini.setValue(databaseKey, database);
    ini.setValue(filterKey, filter);
    ini.setValue(journalKey, stored(folder, journalFile));
    ini.setValue(nameKey, benchName);
    ini.setValue(startKey, startAtLaunch);
    ini.setValue(quarantineKey, quarantine);
    ini.setValue(goneKey, goneAfterSeconds);
    ini.sync();
    if (ini.status() == QSettings::NoError)
        return true;
    *error = QStringLiteral("Не удалось записать настройку стенда ") +
             QDir::toNativeSeparators(fileName) +
             QStringLiteral(": проверьте, что папка существует и в неё можно писать");
    return false;
}

std::optional<BenchSetup> BenchSetup::load(const QString &fileName, QString *error)
{
    const QString shown = QDir::toNativeSeparators(fileName);
    const QFileInfo info(fileName);
    if (!info.isFile() || !info.isReadable()) {
        *error = QStringLiteral("Настройка стенда ") + shown +
                 QStringLiteral(" не найдена или не читается");
        return std::nullopt;
    }
    QSettings ini(fileName, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    if (ini.status() != QSettings::NoError || !ini.contains(jobKey)) {
        *error = QStringLiteral("Файл ") + shown + QStringLiteral(" — не настройка стенда");
        return std::nullopt;
    }
    BenchSetup setup;
    setup.job = jobNames.indexOf(ini.value(jobKey).toString());
    if (setup.job < 0) {
        *error = QStringLiteral("В настройке стенда неизвестное задание «") +
                 ini.value(jobKey).toString() + QStringLiteral("»");
        return std::nullopt;
    }
    const std::optional<int> quarantine =
        number(ini, quarantineKey, setup.quarantine, maxQuarantine);
    const std::optional<int> gone =
        number(ini, goneKey, setup.goneAfterSeconds, maxGoneAfterSeconds);
    if (!quarantine || !gone) {
        *error = QStringLiteral("В настройке стенда неверное число: отказов подряд — от 0 до %1, "
                                "молчание модема — от 0 до %2 с")
                     .arg(maxQuarantine)
                     .arg(maxGoneAfterSeconds);
        return std::nullopt;
    }
    const QDir folder = info.absoluteDir();
    setup.quarantine = *quarantine;
    setup.goneAfterSeconds = *gone;
    setup.settingsFile = restored(folder, ini.value(settingsKey).toString());
    setup.provisionFile = restored(folder, ini.value(provisionKey).toString());
    setup.filter = ini.value(filterKey).toString();
    setup.journalFile = restored(folder, ini.value(journalKey).toString());
    setup.benchName = ini.value(nameKey).toString().trimmed();
    setup.startAtLaunch = ini.value(startKey, false).toBool();
    setup.provisionDb = ini.value(provisionDbKey).toString().trimmed();
    setup.database = ini.value(databaseKey).toString().trimmed();
    const QString problem = setup.problem();
    if (!problem.isEmpty()) {
        *error =
            QStringLiteral("Настройка стенда ") + shown + QStringLiteral(" не принята: ") + problem;
        return std::nullopt;
    }
    return setup;
}

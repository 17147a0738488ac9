// The load-settings and flash jobs fed arbitrary answers. Input: one byte that
// picks the job (bit 0: flash) and the local "settings.ini" (bits 1-2: present,
// empty, missing), then the answers separated by 0x1e. Besides the rules of
// JobProbe: the scripts are started only after every file of the job went out
// whole, and a success comes only as the answer to "at#execscr".
#include "fuzzcheck.h"
#include "jobprobe.h"
#include "operations/writejob.h"
#include "serial/modemcommands.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using FuzzCheck::require;

namespace {

const QByteArray settingsName = QByteArrayLiteral("settings.ini");
const QByteArray mainName = QByteArrayLiteral("main.pyo");
const QByteArray configName = QByteArrayLiteral("config.pyo");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Three local directories, made once: "settings.ini" present, empty, missing.
class LocalDirs
{
public:
    static constexpr int count = 3;

    LocalDirs()
    {
        const QDir root(mDir.path());
        const char *const names[count] = {"present", "empty", "missing"};
        for (int i = 0; i < count; ++i) {
            root.mkdir(QString::fromLatin1(names[i]));
            mPaths[i] = root.filePath(QString::fromLatin1(names[i]));
        }
        writeFile(mPaths[0], "CRYPT_DATA::0::x\r\nAPN::internet::y\r\nSER_SP::38400::z");
        writeFile(mPaths[1], QByteArray());
        mMain = readAll(QStringLiteral(":/files/main.pyo"));
        mConfig = readAll(QStringLiteral(":/files/config.pyo"));
        require(!mMain.isEmpty() && !mConfig.isEmpty(), "the payload resources are linked in");
    }

    QString path(int i) const { return mPaths[i]; }
    QByteArray mainBytes() const { return mMain; }
    QByteArray configBytes() const { return mConfig; }

private:
    static void writeFile(const QString &dir, const QByteArray &bytes)
    {
        QFile file(QDir(dir).filePath(QString::fromLatin1(settingsName)));
        require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
                "the local settings file is written");
    }

    QTemporaryDir mDir;
    QString mPaths[count];
    QByteArray mMain;
    QByteArray mConfig;
};

const LocalDirs &localDirs()
{
    static const LocalDirs dirs;
    return dirs;
}

QList<QByteArray> fixedCommands()
{
    return {ModemCommands::startModeOff(), ModemCommands::restart(),
            ModemCommands::echoOff(),      ModemCommands::listScripts(),
            ModemCommands::startModeOn(),  ModemCommands::selectMain(),
            ModemCommands::execScript()};
}

// The files that must have gone out, in order, before the scripts are started.
bool allFilesSent(WriteJob::Kind kind, const QList<QByteArray> &sent)
{
    if (kind == WriteJob::Kind::LoadSettings)
        return sent == QList<QByteArray>{settingsName, settingsName};
    return sent == QList<QByteArray>{mainName, configName} ||
           sent == QList<QByteArray>{settingsName, mainName, configName};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool flash = (data[0] & 1) != 0;
    const WriteJob::Kind kind = flash ? WriteJob::Kind::Flash : WriteJob::Kind::LoadSettings;
    const int dirIndex = (data[0] >> 1) % LocalDirs::count;
    const QString dir = localDirs().path(dirIndex);

    JobProbe probe(fixedCommands(), [flash](const QString &name) {
        return (name == QLatin1String("settings.ini")) != flash;
    });
    const QByteArray settings = readAll(QDir(dir).filePath(QString::fromLatin1(settingsName)));
    if (QFile::exists(QDir(dir).filePath(QString::fromLatin1(settingsName))))
        probe.allowFile(settingsName, settings);
    if (flash) {
        probe.allowFile(mainName, localDirs().mainBytes());
        probe.allowFile(configName, localDirs().configBytes());
    }

    FileSource source;
    source.localDir = dir;
    WriteJob job(source);
    job.start(kind,
              flash ? QStringList{QString::fromLatin1(mainName), QString::fromLatin1(configName)}
                    : QStringList{QString::fromLatin1(settingsName)});
    const QList<QByteArray> answers = FuzzCheck::pieces(FuzzCheck::bytesOf(data + 1, size - 1));

    driveJob(job, probe, answers, [&job, &probe, kind](const JobAction &action) {
        require(job.step() >= 0 && job.step() <= 9, "the progress stays within 0 to 9");
        if (action.kind == JobAction::Kind::Send && action.command == ModemCommands::startModeOn())
            require(allFilesSent(kind, probe.sentFiles()), "every file went out before the start");
        if (action.kind == JobAction::Kind::Succeed)
            require(probe.lastCommand() == ModemCommands::execScript(),
                    "a success answers \"at#execscr\"");
    });
    return 0;
}

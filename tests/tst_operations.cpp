#include "operations/clearjob.h"
#include "operations/filetransfer.h"
#include "operations/writejob.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <optional>

namespace {

enum class Job
{
    Flash,
    Load,
    Clear
};

struct Sent
{
    QByteArray command;
    int wait = 0;
};

using Modem = std::function<QByteArray(const QByteArray &command)>;

// One job played from the window's first command to its end.
struct Run
{
    QList<Sent> sent; // every command with its wait, the window's first one included
    QList<int> steps; // step() as each answer arrives: the progress bar
    JobAction end;
    bool ended = false;
};

QByteArray ok()
{
    return QByteArrayLiteral("\r\nOK\r\n");
}

// A healthy modem holding the given files: silent to the first few "ate0" after
// the restart, the prompt to a write command, the listing, "OK" to the rest.
class ScriptedModem
{
public:
    explicit ScriptedModem(const QStringList &files, int silentEchoes = 0)
        : mFiles(files), mSilentEchoes(silentEchoes)
    {
    }

    QByteArray operator()(const QByteArray &command)
    {
        if (command == "ate0\r" && mSilentEchoes > 0) {
            --mSilentEchoes;
            return QByteArray();
        }
        if (command.startsWith("at#wscript="))
            return QByteArrayLiteral("\r\n>>> ");
        if (command != "at#lscript\r")
            return ok();
        QByteArray listing = "\r\n";
        for (const QString &name : mFiles)
            listing += "#LSCRIPT: \"" + name.toUtf8() + "\",100\r\n";
        return listing + ok();
    }

private:
    QStringList mFiles;
    int mSilentEchoes;
};

template <class J> Run drive(J &job, const Modem &modem)
{
    constexpr int maxAnswers = 100;
    Run run;
    run.sent.append({"at#escript=\"\"\r", 0});
    while (!run.ended && run.steps.size() < maxAnswers) {
        const QByteArray answer = modem(run.sent.constLast().command);
        run.steps.append(job.step());
        const JobAction action = job.onAnswer(answer);
        if (action.isEnd()) {
            run.end = action;
            run.ended = true;
        } else {
            run.sent.append({action.command, action.wait});
        }
    }
    return run;
}

QStringList defaultFileList(Job job)
{
    if (job == Job::Flash)
        return {"main.pyo", "config.pyo"};
    return job == Job::Load ? QStringList{"settings.ini"} : QStringList();
}

// fileList: what the window passes to start(); the button's list when absent.
Run play(Job job, const FileSource &source, const Modem &modem,
         const std::optional<QStringList> &fileList = std::nullopt)
{
    if (job == Job::Clear) {
        ClearJob clearJob;
        clearJob.start();
        return drive(clearJob, modem);
    }
    WriteJob writeJob(source);
    writeJob.start(job == Job::Flash ? WriteJob::Kind::Flash : WriteJob::Kind::LoadSettings,
                   fileList.value_or(defaultFileList(job)));
    return drive(writeJob, modem);
}

// The modem answers the first time it gets `trigger` with `answer`, after calling `change`.
Modem modemWith(const QStringList &files, const QByteArray &trigger, const QByteArray &answer,
                const std::function<void()> &change = {})
{
    auto done = std::make_shared<bool>(false);
    return [healthy = ScriptedModem(files), trigger, answer, change,
            done](const QByteArray &command) mutable {
        if (*done || command != trigger)
            return healthy(command);
        *done = true;
        if (change)
            change();
        return answer.isNull() ? healthy(command) : answer;
    };
}

// Commands readably, file bytes as size and digest, so a mismatch shows where it is.
QStringList describe(const QList<Sent> &sent)
{
    QStringList lines;
    for (const Sent &one : sent) {
        const bool command = one.command.startsWith("at") && one.command.size() < 100;
        const QString what =
            command
                ? QString::fromUtf8(one.command).replace('\r', "\\r")
                : QString("%1 bytes %2")
                      .arg(one.command.size())
                      .arg(QString(
                          QCryptographicHash::hash(one.command, QCryptographicHash::Md5).toHex()));
        lines.append(what + " @" + QString::number(one.wait));
    }
    return lines;
}

QList<Sent> opening(int echoes = 1)
{
    QList<Sent> sent{{"at#escript=\"\"\r", 0}, {"at#startmodescr=0\r", 0}, {"at#enhrst=1,0\r", 0}};
    for (int i = 0; i < echoes; ++i)
        sent.append({"ate0\r", 0});
    sent.append({"at#lscript\r", 2000});
    return sent;
}

QList<Sent> deletes(const QStringList &names)
{
    QList<Sent> sent;
    for (const QString &name : names)
        sent.append({"at#dscript=\"" + name.toUtf8() + "\"\r", 500});
    return sent;
}

QList<Sent> write(const QByteArray &name, const QByteArray &bytes, bool flag)
{
    const QByteArray command = "at#wscript=\"" + name + "\"," + QByteArray::number(bytes.size());
    return {{command + (flag ? ",1\r" : "\r"), 1500}, {bytes, fileBytesWait(bytes.size())}};
}

QList<Sent> startMain()
{
    return {{"at#startmodescr=1,10\r", 0}, {"at#escript=\"main.pyo\"\r", 0}, {"at#execscr\r", 0}};
}

QList<Sent> idleEcho()
{
    return {{"ate0\r", 0}};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const char *const flashFailure = "Ошибка при прошивке модема";
const char *const loadFailure = "Ошибка загрузки настроек";
const char *const clearFailure = "Ошибка при очистке модема";

QString failureOf(Job job)
{
    return job == Job::Flash ? flashFailure : job == Job::Load ? loadFailure : clearFailure;
}

const QStringList allThree{"main.pyo", "config.pyo", "settings.ini"};
const QStringList scriptsOnly{"main.pyo", "config.pyo"};

} // namespace

Q_DECLARE_METATYPE(Job)

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void sequences_data();
    void sequences();
    void faults_data();
    void faults();
    void echoWait_data();
    void echoWait();
    void startForgetsEchoWait();
    void stopsAfter_data();
    void stopsAfter();
    void clearIgnoresPrompt();
    void endIsFinal();

private:
    void expectFailure(const Run &run, const QString &text, bool logText);
    QString settingsPath() const { return mDir.filePath("settings.ini"); }

    QTemporaryDir mDir;
    FileSource mSource;
    QByteArray mMain;
    QByteArray mConfig;
    const QByteArray mSettings = "server::10.0.0.1::Адрес сервера\r\nport::5000::Порт\r\n";
};

void TestOperations::initTestCase()
{
    QVERIFY(mDir.isValid());
    mSource.localDir = mDir.path();
    mMain = readAll(":/files/main.pyo");
    mConfig = readAll(":/files/config.pyo");
    QVERIFY(!mMain.isEmpty());
    QVERIFY(!mConfig.isEmpty());
}

// Every case starts with the same local settings file; some cases change it.
void TestOperations::init()
{
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(mSettings), qint64(mSettings.size()));
}

void TestOperations::expectFailure(const Run &run, const QString &text, bool logText)
{
    QVERIFY(run.ended);
    QCOMPARE(int(run.end.kind), int(JobAction::Kind::Fail));
    QCOMPARE(run.end.text, text);
    QCOMPARE(run.end.logText, logText);
}

void TestOperations::sequences_data()
{
    QTest::addColumn<Job>("job");
    QTest::addColumn<QStringList>("fileList");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("logText");

    const QString flashed = "Модем прошит";
    const QString loaded = "Загрузка настроек успешно завершена";
    const QString cleared = "Модем очищен";
    const QStringList flashList = defaultFileList(Job::Flash);
    const QStringList loadList = defaultFileList(Job::Load);

    QTest::newRow("flash keeps the modem's settings")
        << Job::Flash << flashList << allThree
        << describe(opening() + deletes(scriptsOnly) + write("main.pyo", mMain, true) +
                    write("config.pyo", mConfig, true) + startMain())
        << QList<int>{0, 1, 2, 3, 4, 5, 5, 6, 6, 6, 6, 7, 8, 9} << flashed << true;
    QTest::newRow("flash writes the local settings first")
        << Job::Flash << flashList << scriptsOnly
        << describe(opening() + deletes(scriptsOnly) + write("settings.ini", mSettings, false) +
                    write("main.pyo", mMain, true) + write("config.pyo", mConfig, true) +
                    startMain())
        << QList<int>{0, 1, 2, 3, 4, 5, 5, 6, 6, 6, 6, 6, 6, 7, 8, 9} << flashed << true;
    QTest::newRow("flash deletes a third script")
        << Job::Flash << flashList << QStringList{"old.pyo", "settings.ini", "main.pyo"}
        << describe(opening() + deletes({"old.pyo", "main.pyo"}) + write("main.pyo", mMain, true) +
                    write("config.pyo", mConfig, true) + startMain())
        << QList<int>{0, 1, 2, 3, 4, 5, 5, 6, 6, 6, 6, 7, 8, 9} << flashed << true;
    QTest::newRow("flash, a name that differs from settings.ini in case")
        << Job::Flash << flashList << QStringList{"Settings.ini", "main.pyo"}
        << describe(opening() + deletes({"Settings.ini", "main.pyo"}) +
                    write("settings.ini", mSettings, false) + write("main.pyo", mMain, true) +
                    write("config.pyo", mConfig, true) + startMain())
        << QList<int>{0, 1, 2, 3, 4, 5, 5, 6, 6, 6, 6, 6, 6, 7, 8, 9} << flashed << true;
    QTest::newRow("flash with nothing to write")
        << Job::Flash << QStringList() << QStringList{"settings.ini"}
        << describe(opening() + idleEcho() + startMain()) << QList<int>{0, 1, 2, 3, 4, 5, 7, 8, 9}
        << flashed << true;
    QTest::newRow("load settings")
        << Job::Load << loadList << allThree
        << describe(opening() + deletes({"settings.ini"}) +
                    write("settings.ini", mSettings, false) +
                    write("settings.ini", mSettings, false) + startMain())
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 6, 6, 6, 7, 8, 9} << loaded << true;
    QTest::newRow("load settings, modem without settings")
        << Job::Load << loadList << scriptsOnly
        << describe(opening() + idleEcho() + write("settings.ini", mSettings, false) +
                    write("settings.ini", mSettings, false) + startMain())
        << QList<int>{0, 1, 2, 3, 4, 5, 6, 6, 6, 6, 7, 8, 9} << loaded << true;
    QTest::newRow("clear") << Job::Clear << QStringList() << allThree
                           << describe(opening() + deletes(allThree))
                           << QList<int>{0, 1, 2, 3, 4, 5, 5, 5} << cleared << false;
    QTest::newRow("clear an empty modem")
        << Job::Clear << QStringList() << QStringList() << describe(opening() + idleEcho())
        << QList<int>{0, 1, 2, 3, 4, 5} << cleared << false;
}

void TestOperations::sequences()
{
    QFETCH(Job, job);
    QFETCH(QStringList, fileList);
    QFETCH(QStringList, files);
    const Run run = play(job, mSource, ScriptedModem(files), fileList);
    QVERIFY(run.ended);
    QTEST(describe(run.sent), "sent");
    QTEST(run.steps, "steps");
    QCOMPARE(int(run.end.kind), int(JobAction::Kind::Succeed));
    QTEST(run.end.text, "text");
    QTEST(run.end.logText, "logText");
}

// Every answer of every job replaced in turn by a fault: the job fails at once.
void TestOperations::faults_data()
{
    QTest::addColumn<Job>("job");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("faultAt");
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QStringList>("sent");

    const QList<QPair<const char *, QByteArray>> faults{{"empty", QByteArray()},
                                                        {"error", "\r\nERROR\r\n"},
                                                        {"prompt", "\r\n>>> "},
                                                        {"prompt with OK", "\r\nOK\r\n>>> "}};
    const QList<QPair<Job, QStringList>> jobs{{Job::Flash, allThree},
                                              {Job::Flash, scriptsOnly},
                                              {Job::Load, allThree},
                                              {Job::Clear, allThree}};
    for (const auto &[job, files] : jobs) {
        const Run healthy = play(job, mSource, ScriptedModem(files));
        for (int at = 0; at < healthy.steps.size(); ++at) {
            for (const auto &[faultName, fault] : faults) {
                const int step = healthy.steps.at(at);
                const bool hasOk = fault.contains("OK");
                const bool hasPrompt = fault.contains(">>>");
                // The echo-off wait absorbs answers without "OK"; the clear job ignores the
                // prompt; a prompt in the transfer step is the handshake's own business.
                if ((step == 3 && !hasOk && (job == Job::Clear || !hasPrompt)) ||
                    (job == Job::Clear && hasOk) || (step == 6 && hasPrompt))
                    continue;
                QTest::addRow("%s %d files, answer %d (step %d): %s",
                              job == Job::Flash  ? "flash"
                              : job == Job::Load ? "load"
                                                 : "clear",
                              int(files.size()), at, step, faultName)
                    << job << files << at << fault << describe(healthy.sent.mid(0, at + 1));
            }
        }
    }
}

void TestOperations::faults()
{
    QFETCH(Job, job);
    QFETCH(QStringList, files);
    QFETCH(int, faultAt);
    QFETCH(QByteArray, fault);
    int answers = 0;
    ScriptedModem healthy(files);
    const Run run = play(job, mSource, [&](const QByteArray &command) {
        const QByteArray answer = healthy(command);
        return answers++ == faultAt ? fault : answer;
    });
    expectFailure(run, failureOf(job), job != Job::Clear);
    QTEST(describe(run.sent), "sent");
}

void TestOperations::echoWait_data()
{
    QTest::addColumn<Job>("job");
    QTest::addColumn<int>("silentEchoes");
    QTest::addColumn<bool>("survives");

    QTest::newRow("flash, 15 silent") << Job::Flash << 15 << true;
    QTest::newRow("flash, 16 silent") << Job::Flash << 16 << false;
    QTest::newRow("load, 16 silent") << Job::Load << 16 << false;
    QTest::newRow("clear, 15 silent") << Job::Clear << 15 << true;
    QTest::newRow("clear, 16 silent") << Job::Clear << 16 << false;
}

// After the restart at most 16 "ate0" go out: 15 silent answers are absorbed, the 16th fails.
void TestOperations::echoWait()
{
    QFETCH(Job, job);
    QFETCH(int, silentEchoes);
    QFETCH(bool, survives);
    const Run run = play(job, mSource, ScriptedModem(allThree, silentEchoes));
    QList<Sent> expected = opening(16);
    if (survives) {
        QCOMPARE(describe(run.sent.mid(0, expected.size())), describe(expected));
        QCOMPARE(int(run.end.kind), int(JobAction::Kind::Succeed));
    } else {
        expected.removeLast();
        QCOMPARE(describe(run.sent), describe(expected));
        expectFailure(run, failureOf(job), job != Job::Clear);
    }
}

// A job abandoned inside the echo-off wait leaves no tolerance to the next one.
void TestOperations::startForgetsEchoWait()
{
    WriteJob writeJob(mSource);
    ClearJob clearJob;
    writeJob.start(WriteJob::Kind::Flash, defaultFileList(Job::Flash));
    clearJob.start();
    for (int i = 0; i < 4; ++i) {
        QVERIFY(!writeJob.onAnswer(i < 3 ? ok() : QByteArray()).isEnd());
        QVERIFY(!clearJob.onAnswer(i < 3 ? ok() : QByteArray()).isEnd());
    }
    writeJob.start(WriteJob::Kind::Flash, defaultFileList(Job::Flash));
    clearJob.start();
    QCOMPARE(int(writeJob.onAnswer(QByteArray()).kind), int(JobAction::Kind::Fail));
    QCOMPARE(int(clearJob.onAnswer(QByteArray()).kind), int(JobAction::Kind::Fail));
}

// Each case fails the job right after `trigger` and nothing later goes out: a local file
// that cannot be written is found before anything is deleted and before its write command;
// a file ends only with an "OK" to its bytes, which go out once; a listed name with a
// control character stops the job before any delete.
void TestOperations::stopsAfter_data()
{
    QTest::addColumn<Job>("job");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QByteArray>("trigger");
    QTest::addColumn<QByteArray>("answer"); // null: the healthy answer
    QTest::addColumn<QString>("change");    // what happens to the local settings at the trigger
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *name, Job job, const QStringList &files,
                        const QByteArray &trigger, const QByteArray &answer, const QString &change,
                        const QString &text, const QString &prefix = ":/files/") {
        QTest::newRow(name) << job << files << trigger << answer << change << prefix << text;
    };
    const QString missing = "Файл settings.ini не найден";
    const QString empty = "Файл settings.ini пуст";
    const QString noMain = "Файл main.pyo не найден";
    const QByteArray list = "at#lscript\r";
    const QByteArray deleteSettings = "at#dscript=\"settings.ini\"\r";
    const QByteArray writeMain = write("main.pyo", mMain, true).constFirst().command;
    const QByteArray writeConfig = write("config.pyo", mConfig, true).constFirst().command;
    row("flash, no local settings", Job::Flash, scriptsOnly, list, {}, "remove", missing);
    row("flash, empty local settings", Job::Flash, scriptsOnly, list, {}, "empty", empty);
    row("load, no local settings", Job::Load, allThree, list, {}, "remove", missing);
    row("load, empty local settings", Job::Load, allThree, list, {}, "empty", empty);
    row("flash, resource missing", Job::Flash, allThree, list, {}, "", noMain, ":/bogus/");
    row("flash, resource missing, modem without settings", Job::Flash, scriptsOnly, list, {}, "",
        noMain, ":/bogus/");
    row("load, emptied while deleting", Job::Load, allThree, deleteSettings, {}, "empty", empty);
    row("load, removed while deleting", Job::Load, allThree, deleteSettings, {}, "remove", missing);
    row("load, emptied after the first copy", Job::Load, allThree, mSettings, {}, "empty", empty);
    row("flash, removed while deleting", Job::Flash, scriptsOnly, "at#dscript=\"config.pyo\"\r", {},
        "remove", missing);
    row("OK to the write command", Job::Flash, allThree, writeMain, ok(), "", flashFailure);
    row("OK and prompt to the write command", Job::Flash, allThree, writeMain, "\r\n>>> \r\nOK\r\n",
        "", flashFailure);
    row("OK to the second write command", Job::Flash, allThree, writeConfig, ok(), "",
        flashFailure);
    row("prompt again after the bytes", Job::Flash, allThree, mMain, "\r\n>>> ", "", flashFailure);
    row("prompt again after the second file", Job::Flash, allThree, mConfig, "\r\n>>> ", "",
        flashFailure);
    for (const Job job : {Job::Flash, Job::Load, Job::Clear}) {
        const char *jobName = job == Job::Flash ? "flash" : job == Job::Load ? "load" : "clear";
        const QList<QPair<const char *, QString>> names{
            {"CR", "x\rat#dscript="}, {"LF", "x\nat#dscript="}, {"DEL", "x\x7f"}};
        for (const auto &[what, name] : names)
            QTest::addRow("hostile listing, %s, %s", jobName, what)
                << job << QStringList{"main.pyo", name, "settings.ini"} << list << QByteArray()
                << QString() << QString(":/files/") << failureOf(job);
    }
}

void TestOperations::stopsAfter()
{
    QFETCH(Job, job);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, trigger);
    QFETCH(QByteArray, answer);
    QFETCH(QString, change);
    QFETCH(QString, prefix);
    QFETCH(QString, text);
    // A file of the resource's name on disk must not stand in for the resource.
    QFile onDisk(mDir.filePath("main.pyo"));
    QVERIFY(onDisk.open(QIODevice::WriteOnly) && onDisk.write("x") == 1);
    onDisk.close();
    const QList<Sent> healthy = play(job, mSource, ScriptedModem(files)).sent;
    FileSource source = mSource;
    source.resourcePrefix = prefix;
    const QString path = settingsPath();
    const Run run = play(job, source, modemWith(files, trigger, answer, [change, path] {
                             if (change == "remove")
                                 QFile::remove(path);
                             else if (change == "empty")
                                 QFile::resize(path, 0);
                         }));
    expectFailure(run, text, text == failureOf(job) && job != Job::Clear);
    const auto last = std::find_if(healthy.cbegin(), healthy.cend(),
                                   [&](const Sent &sent) { return sent.command == trigger; });
    QVERIFY(last != healthy.cend());
    QCOMPARE(describe(run.sent), describe(healthy.mid(0, int(last - healthy.cbegin()) + 1)));
}

// The clear job judges only "OK": a prompt beside it changes nothing.
void TestOperations::clearIgnoresPrompt()
{
    ScriptedModem healthy(allThree);
    const Run run = play(Job::Clear, mSource,
                         [&](const QByteArray &command) { return healthy(command) + ">>> "; });
    QVERIFY(run.ended);
    QCOMPARE(int(run.end.kind), int(JobAction::Kind::Succeed));
    QCOMPARE(describe(run.sent), describe(opening() + deletes(allThree)));
}

// A stray answer after the end (or before any start) sends nothing and reports no success.
void TestOperations::endIsFinal()
{
    WriteJob writeJob(mSource);
    ClearJob clearJob;
    QVERIFY(writeJob.finished());
    QVERIFY(clearJob.finished());
    for (int round = 0; round < 2; ++round) {
        const JobAction writeAction = writeJob.onAnswer(ok());
        const JobAction clearAction = clearJob.onAnswer(ok());
        QCOMPARE(int(writeAction.kind), int(JobAction::Kind::Fail));
        QCOMPARE(int(clearAction.kind), int(JobAction::Kind::Fail));
        // Before any start the job is a flash; afterwards it keeps the last kind.
        QCOMPARE(writeAction.text, QString(round == 0 ? flashFailure : loadFailure));
        QCOMPARE(clearAction.text, QString(clearFailure));
        QVERIFY(!writeAction.logText && !clearAction.logText);
        QVERIFY(writeAction.command.isEmpty() && clearAction.command.isEmpty());

        writeJob.start(WriteJob::Kind::LoadSettings, defaultFileList(Job::Load));
        clearJob.start();
        QVERIFY(!writeJob.finished() && !clearJob.finished());
        QCOMPARE(int(drive(writeJob, ScriptedModem(allThree)).end.kind),
                 int(JobAction::Kind::Succeed));
        QCOMPARE(int(drive(clearJob, ScriptedModem(allThree)).end.kind),
                 int(JobAction::Kind::Succeed));
        QVERIFY(writeJob.finished() && clearJob.finished());
    }
}

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"

#include "operations/clearjob.h"
#include "operations/filetransfer.h"
#include "operations/writejob.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace {

enum class Job
{
    Flash,
    Load,
    Clear
};
using Modem = std::function<QByteArray(const QByteArray &command)>;

const QByteArray ok = "\r\nOK\r\n";
const QStringList allThree{"main.pyo", "config.pyo", "settings.ini"};
const QStringList scriptsOnly{"main.pyo", "config.pyo"};
// The largest local settings file a job writes; every case starts with one of exactly this size.
constexpr int settingsLimit = 16384;

// A command as the tables show it; file bytes as size and digest.
QString shown(const QByteArray &bytes)
{
    const QString digest = QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
    return bytes.startsWith("at") && bytes.size() < 100
               ? QString::fromUtf8(bytes).replace('\r', "\\r")
               : QString("%1 bytes %2").arg(bytes.size()).arg(digest);
}

// A command sent, its answer wait, and step() as its answer arrives (the progress bar).
QString sent(const QByteArray &bytes, int wait, int step)
{
    return shown(bytes) + QString(" @%1 #%2").arg(wait).arg(step);
}

QStringList opening(int echoes = 1)
{
    QStringList list{sent("at#escript=\"\"\r", 0, 0), sent("at#startmodescr=0\r", 0, 1),
                     sent("at#enhrst=1,0\r", 0, 2)};
    for (int i = 0; i < echoes; ++i)
        list << sent("ate0\r", 0, 3);
    return list << sent("at#lscript\r", 2000, 4);
}

QStringList deletes(const QStringList &names)
{
    QStringList list;
    for (const QString &name : names)
        list << sent("at#dscript=\"" + name.toUtf8() + "\"\r", 500, 5);
    return list;
}

QStringList write(const QByteArray &name, const QByteArray &bytes, bool flag)
{
    const QByteArray command = "at#wscript=\"" + name + "\"," + QByteArray::number(bytes.size());
    return {sent(command + (flag ? ",1\r" : "\r"), 1500, 6),
            sent(bytes, fileBytesWait(bytes.size()), 6)};
}

// A healthy modem holding the given files: silent to the first few "ate0" after
// the restart, the prompt to a write command, the listing, "OK" to the rest.
Modem scriptedModem(const QStringList &files, int silentEchoes = 0)
{
    return [files, silentEchoes](const QByteArray &command) mutable {
        if (command == "ate0\r" && silentEchoes > 0 && silentEchoes--)
            return QByteArray();
        if (command.startsWith("at#wscript="))
            return QByteArrayLiteral("\r\n>>> ");
        QByteArray listing = "\r\n";
        for (const QString &name : files)
            listing += "#LSCRIPT: \"" + name.toUtf8() + "\",100\r\n";
        return command == "at#lscript\r" ? listing + ok : ok;
    };
}

// By job: the button's file list, and the texts of its success and failure.
const QList<QStringList> buttonFiles{scriptsOnly, {"settings.ini"}, {}};
const QStringList successOf{"Модем прошит", "Загрузка настроек успешно завершена", "Модем очищен"};
const QStringList failureOf{"Ошибка при прошивке модема", "Ошибка загрузки настроек",
                            "Ошибка при очистке модема"};

// One job played from the window's first command to its end.
struct Run
{
    QStringList sent; // every command, the window's first one included
    QList<int> steps; // step() as each answer arrives
    JobAction end;
};

// Both jobs as the window holds them: one object of each, restarted for every operation.
struct Jobs
{
    WriteJob write;
    ClearJob clear;

    explicit Jobs(const QString &localDir) : write(FileSource{localDir}) {}
    JobAction answer(Job job, const QByteArray &a)
    {
        return job == Job::Clear ? clear.onAnswer(a) : write.onAnswer(a);
    }
    void start(Job job, const QStringList &fileList)
    {
        if (job == Job::Clear)
            return clear.start();
        write.start(job == Job::Flash ? WriteJob::Kind::Flash : WriteJob::Kind::LoadSettings,
                    fileList);
    }
    Run play(Job job, const Modem &modem, const QStringList &fileList)
    {
        start(job, fileList);
        Run run;
        run.end = JobAction::send("at#escript=\"\"\r", 0); // the window's first command
        while (!run.end.isEnd() && run.steps.size() < 100) {
            const QByteArray reply = modem(run.end.command);
            run.steps << (job == Job::Clear ? clear.step() : write.step());
            run.sent << sent(run.end.command, run.end.wait, run.steps.last());
            run.end = answer(job, reply);
        }
        return run;
    }
};

void expectEnd(const JobAction &end, JobAction::Kind kind, const QString &text, bool logText)
{
    QCOMPARE(end.kind, kind);
    QCOMPARE(end.text, text);
    QCOMPARE(end.logText, logText);
    QVERIFY(end.command.isEmpty());
}

} // namespace

Q_DECLARE_METATYPE(Job)

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void runs_data();
    void runs();
    void startForgetsEchoWait();
    void startTexts();

private:
    QTemporaryDir mDir;
    QString mSettingsPath = mDir.filePath("settings.ini");
    QByteArray mMain;
    QByteArray mConfig;
    QByteArray mSettings = "server::10.0.0.1::Адрес сервера\r\nport::5000::Порт\r\n";
};

void TestOperations::initTestCase()
{
    QFile main(":/files/main.pyo");
    QFile config(":/files/config.pyo");
    QVERIFY(mDir.isValid() && main.open(QIODevice::ReadOnly) && config.open(QIODevice::ReadOnly));
    mMain = main.readAll();
    mConfig = config.readAll();
    mSettings = mSettings.leftJustified(settingsLimit, '#');
    // A file of a resource's name on disk must not stand in for the resource.
    QFile onDisk(mDir.filePath("main.pyo"));
    QVERIFY(onDisk.open(QIODevice::WriteOnly) && onDisk.write("x") == 1);
    init();
}

void TestOperations::init()
{
    QFile file(mSettingsPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(mSettings), qint64(mSettings.size()));
}

// Each row plays a job against the scripted modem, with one answer replaced by `fault` or
// the local files changed just before it. Healthy runs send the whole table of commands; a
// run with a fault ends right after that answer and sends nothing more: every answer of
// every job in turn replaced by a fault; a local file that cannot be written (missing, empty
// or over the size limit) is found before anything is deleted and again before its write
// command; a file ends only with an "OK" to its bytes, which go out once; a listed name with
// a control character stops the job before any delete; after the restart 15 silent "ate0"
// are absorbed and the 16th fails.
void TestOperations::runs_data()
{
    QTest::addColumn<Job>("job");
    QTest::addColumn<QStringList>("files"); // held by the modem
    QTest::addColumn<QStringList>("fileList");
    QTest::addColumn<int>("silent");  // "ate0" unanswered after the restart
    QTest::addColumn<int>("faultAt"); // -1: none
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QString>("change"); // done to the local files before that answer
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("text");

    const auto row = [](const QString &name, Job job, const QStringList &files,
                        const QStringList &sent, int silent = 0, int at = -1,
                        const QByteArray &fault = {}, const QString &change = {},
                        const QString &text = {}, const QStringList &fileList = {"button"}) {
        QTest::newRow(qPrintable(name))
            << job << files
            << (fileList == QStringList{"button"} ? buttonFiles[int(job)] : fileList) << silent
            << at << fault << change << sent << (text.isNull() ? successOf[int(job)] : text);
    };
    const QStringList scripts = write("main.pyo", mMain, true) + write("config.pyo", mConfig, true);
    const QStringList settings = write("settings.ini", mSettings, false);
    const QStringList idleEcho{sent("ate0\r", 0, 5)};
    const QStringList startMain{sent("at#startmodescr=1,10\r", 0, 7),
                                sent("at#escript=\"main.pyo\"\r", 0, 8),
                                sent("at#execscr\r", 0, 9)};
    row("flash keeps the modem's settings", Job::Flash, allThree,
        opening() + deletes(scriptsOnly) + scripts + startMain);
    row("flash writes the local settings first", Job::Flash, scriptsOnly,
        opening() + deletes(scriptsOnly) + settings + scripts + startMain);
    row("flash deletes a third script", Job::Flash, {"old.pyo", "settings.ini", "main.pyo"},
        opening() + deletes({"old.pyo", "main.pyo"}) + scripts + startMain);
    row("flash, a name that differs from settings.ini in case", Job::Flash,
        {"Settings.ini", "main.pyo"},
        opening() + deletes({"Settings.ini", "main.pyo"}) + settings + scripts + startMain);
    row("flash with nothing to write", Job::Flash, {"settings.ini"},
        opening() + idleEcho + startMain, 0, -1, {}, {}, {}, {});
    row("load settings", Job::Load, allThree,
        opening() + deletes({"settings.ini"}) + settings + settings + startMain);
    row("load settings, modem without settings", Job::Load, scriptsOnly,
        opening() + idleEcho + settings + settings + startMain);
    row("clear", Job::Clear, allThree, opening() + deletes(allThree));
    row("clear an empty modem", Job::Clear, {}, opening() + idleEcho);

    const QList<QPair<const char *, QByteArray>> faults{{"empty", {}},
                                                        {"error", "\r\nERROR\r\n"},
                                                        {"prompt", "\r\n>>> "},
                                                        {"prompt, OK", ok + ">>> "}};
    constexpr int FlashAll = 0, FlashScripts = 1, Load = 2, Clear = 3;
    const QList<QPair<Job, QStringList>> cases{{Job::Flash, allThree},
                                               {Job::Flash, scriptsOnly},
                                               {Job::Load, allThree},
                                               {Job::Clear, allThree}};
    QList<Run> runs;
    for (const auto &[job, files] : cases)
        runs << Jobs(mDir.path()).play(job, scriptedModem(files), buttonFiles[int(job)]);
    // The healthy run of a case up to answer `at`, which brings the fault.
    const auto fail = [&](int c, const QString &what, int at, const QByteArray &fault,
                          const QString &change, const QString &text) {
        row(QString("case %1, %2").arg(c).arg(what), cases.at(c).first, cases.at(c).second,
            runs.at(c).sent.mid(0, at + 1), 0, at, fault, change, text);
    };
    for (int c = FlashAll; c <= Clear; ++c) {
        const Job job = cases.at(c).first;
        for (int at = 0; at < runs.at(c).steps.size(); ++at) {
            for (const auto &[faultName, fault] : faults) {
                const int step = runs.at(c).steps.at(at);
                // The echo-off wait absorbs answers without "OK"; the clear job ignores the
                // prompt; a prompt in the transfer step is the handshake's own business.
                if ((step == 3 && !fault.contains("OK") &&
                     (job == Job::Clear || !fault.contains(">>>"))) ||
                    (job == Job::Clear && fault.contains("OK")) ||
                    (step == 6 && fault.contains(">>>")))
                    continue;
                fail(c, QString("answer %1 (step %2): %3").arg(at).arg(step).arg(faultName), at,
                     fault, {}, failureOf[int(job)]);
            }
        }
    }
    // The index of the answer to the first command `trigger` in the case's healthy run.
    const auto after = [&](int c, const QByteArray &trigger) {
        int at = 0;
        while (!runs.at(c).sent.at(at).startsWith(shown(trigger) + " @"))
            ++at;
        return at;
    };
    const QString missing = "Файл settings.ini не найден";
    const QString empty = "Файл settings.ini пуст";
    const QString tooLarge = "Файл settings.ini слишком большой";
    const QString failed = failureOf[int(Job::Flash)];
    const int listing = after(FlashAll, "at#lscript\r");
    const int writeMain =
        after(FlashAll, "at#wscript=\"main.pyo\"," + QByteArray::number(mMain.size()) + ",1\r");
    const int deleteSettings = after(Load, "at#dscript=\"settings.ini\"\r");
    fail(FlashScripts, "no local settings", listing, {}, "remove", missing);
    fail(FlashScripts, "empty local settings", listing, {}, "empty", empty);
    fail(FlashScripts, "oversized local settings", listing, {}, "grow", tooLarge);
    fail(Load, "no local settings", listing, {}, "remove", missing);
    fail(Load, "empty local settings", listing, {}, "empty", empty);
    fail(Load, "oversized local settings", listing, {}, "grow", tooLarge);
    fail(FlashAll, "resource missing", listing, {}, "bogus", "Файл main.pyo не найден");
    fail(Load, "emptied while deleting", deleteSettings, {}, "empty", empty);
    fail(Load, "grown while deleting", deleteSettings, {}, "grow", tooLarge);
    fail(Load, "removed after the first copy", after(Load, mSettings), {}, "remove", missing);
    fail(FlashScripts, "emptied while deleting", after(FlashScripts, "at#dscript=\"config.pyo\"\r"),
         {}, "empty", empty);
    fail(FlashAll, "OK to the write command", writeMain, ok, {}, failed);
    fail(FlashAll, "OK and prompt to the write command", writeMain, ">>> " + ok, {}, failed);
    fail(FlashAll, "OK to the second write command", writeMain + 2, ok, {}, failed);
    fail(FlashAll, "prompt again after the bytes", writeMain + 1, "\r\n>>> ", {}, failed);
    for (int c = FlashScripts; c <= Clear; ++c) {
        for (const QByteArray name : {"x\rat#dscript=", "x\nat#dscript=", "x\x7f"})
            fail(c, "hostile listing " + name.toPercentEncoding(), listing,
                 "#LSCRIPT: \"a.pyo\"\r\n#LSCRIPT: \"" + name + "\"\r\n" + ok, {},
                 failureOf[int(cases.at(c).first)]);
    }
    for (const int c : {FlashAll, Clear}) {
        QStringList echoes = runs.at(c).sent;
        for (int i = 0; i < 15; ++i)
            echoes.insert(3, sent("ate0\r", 0, 3));
        const auto &[job, files] = cases.at(c);
        row(QString("case %1, 15 silent").arg(c), job, files, echoes, 15);
        row(QString("case %1, 16 silent").arg(c), job, files, echoes.mid(0, 19), 16, -1, {}, {},
            failureOf[int(job)]);
    }
}

// The window keeps one object per job and restarts it for every operation, so each row runs
// twice on the same objects. A stray answer before the first start or after an end sends
// nothing and reports no success. The clear job judges only "OK": its modem adds a prompt.
void TestOperations::runs()
{
    QFETCH(Job, job);
    QFETCH(QStringList, files);
    QFETCH(QStringList, fileList);
    QFETCH(int, silent);
    QFETCH(int, faultAt);
    QFETCH(QByteArray, fault);
    QFETCH(QString, change);
    QFETCH(QString, text);
    const bool success = text == successOf[int(job)];
    const bool logText = job != Job::Clear && (success || text == failureOf[int(job)]);
    Jobs jobs(mDir.path());
    expectEnd(jobs.answer(job, ok), JobAction::Kind::Fail,
              failureOf[int(job == Job::Clear ? job : Job::Flash)], false);
    for (int round = 0; round < 2; ++round) {
        init();
        int answers = 0;
        const Modem healthy = scriptedModem(files, silent);
        const Run run = jobs.play(
            job,
            [&](const QByteArray &command) {
                const QByteArray answer = healthy(command) + (job == Job::Clear ? ">>> " : "");
                if (answers++ != faultAt)
                    return answer;
                if (change == "remove")
                    QFile::remove(mSettingsPath);
                else if (change == "bogus")
                    jobs.write.setFileSource(FileSource{mDir.path(), ":/bogus/"});
                else if (!change.isEmpty())
                    QFile::resize(mSettingsPath, change == "empty" ? 0 : settingsLimit + 1);
                return change.isEmpty() ? fault : answer;
            },
            fileList);
        QTEST(run.sent, "sent");
        expectEnd(run.end, success ? JobAction::Kind::Succeed : JobAction::Kind::Fail, text,
                  logText);
        expectEnd(jobs.answer(job, ok), JobAction::Kind::Fail, failureOf[int(job)], false);
    }
}

// A job abandoned inside the echo-off wait leaves no tolerance to the next one.
void TestOperations::startForgetsEchoWait()
{
    Jobs jobs(mDir.path());
    for (const Job job : {Job::Flash, Job::Clear}) {
        jobs.start(job, {});
        for (const QByteArray &answer : {ok, ok, ok, QByteArray()})
            QVERIFY(!jobs.answer(job, answer).isEnd());
        jobs.start(job, {});
        QCOMPARE(jobs.answer(job, QByteArray()).kind, JobAction::Kind::Fail);
    }
}

// The window logs these as a flash or a load starts.
void TestOperations::startTexts()
{
    QCOMPARE(WriteJob::startText(WriteJob::Kind::Flash), QString("Прошивка модема запущена"));
    QCOMPARE(WriteJob::startText(WriteJob::Kind::LoadSettings),
             QString("Загрузка настроек запущена"));
}

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"

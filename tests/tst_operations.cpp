#include "operations/clearjob.h"
#include "operations/filetransfer.h"
#include "operations/writejob.h"
#include "protocol/tooltexts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace {

using Job = int;
constexpr Job Flash = 0, Load = 1, Clear = 2;
using Modem = std::function<QByteArray(const QByteArray &command)>;

const QByteArray ok = "\r\nOK\r\n";
const QStringList allThree{"main.pyo", "config.pyo", "settings.ini"};
const QStringList scriptsOnly{"main.pyo", "config.pyo"};
// The largest local settings file a job writes; every case starts with one of exactly this size.
constexpr int settingsLimit = 16384;
// By job: the button's file list, and the texts of its success and failure.
const QList<QStringList> buttonFiles{scriptsOnly, {"settings.ini"}, {}};
const QStringList successOf{ToolText::flashed(), ToolText::loaded(), ToolText::cleared()};
const QStringList failureOf{ToolText::flashFailed(), ToolText::loadFailed(),
                            ToolText::clearFailed()};

// A command as the tables show it (file bytes as size and hash), its answer wait, and
// step() as its answer arrives (the progress bar).
QString sent(const QByteArray &bytes, int wait, int step)
{
    const bool command = bytes.startsWith("at") && bytes.size() < 100;
    return (command ? QString::fromUtf8(bytes).replace('\r', "\\r")
                    : QString("%1 bytes %2").arg(bytes.size()).arg(qHash(bytes))) +
           QString(" @%1 #%2").arg(wait).arg(step);
}

// How a row names the answer at `at` of a run: the command it answers ("at#lscript"), a
// file's bytes by the name in the write command before them, "again" for a repeat.
QString answered(const QStringList &run, int at)
{
    const auto what = [&run](int i) {
        const QString entry = run.at(i).section(" @", 0, 0).remove("\\r");
        return entry.startsWith("at") ? entry : "the bytes of " + run.at(i - 1).section('"', 1, 1);
    };
    int repeats = 0;
    for (int i = 0; i < at; ++i)
        repeats += what(i) == what(at) ? 1 : 0;
    return repeats == 0 ? what(at) : QString("%1 (%2 again)").arg(what(at)).arg(repeats);
}

// The restart and listing every job starts with, then the deletes of `names`, or "ate0"
// when there is nothing to delete.
QStringList opening(const QStringList &names)
{
    QStringList list{sent("at#escript=\"\"\r", 250, 0), sent("at#startmodescr=0\r", 250, 1),
                     sent("at#enhrst=1,0\r", 250, 2), sent("ate0\r", 250, 3),
                     sent("at#lscript\r", 2000, 4)};
    for (const QString &name : names)
        list << sent("at#dscript=\"" + name.toUtf8() + "\"\r", 500, 5);
    return names.isEmpty() ? list << sent("ate0\r", 250, 5) : list;
}

QStringList write(const QByteArray &name, const QByteArray &bytes, bool flag)
{
    const QByteArray command = "at#wscript=\"" + name + "\"," + QByteArray::number(bytes.size());
    return {sent(command + (flag ? ",1\r" : "\r"), 1500, 6),
            sent(bytes, msOf(Timing().fileBytesAnswerWait(bytes.size())), 6)};
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

// Both jobs as the session holds them: one object of each, restarted for every job.
struct Jobs
{
    WriteJob write;
    ClearJob clear;
    Job job = Flash;
    JobAction end; // of the last answer

    explicit Jobs(const QString &localDir) : write(Timing(), FileSource{localDir}), clear(Timing())
    {
    }
    JobAction answer(const QByteArray &a)
    {
        return end = job == Clear ? clear.onAnswer(a) : write.onAnswer(a);
    }
    void start(Job started, const QStringList &fileList)
    {
        job = started;
        if (job == Clear)
            return clear.start();
        write.start(job == Flash ? WriteJob::Kind::Flash : WriteJob::Kind::LoadSettings, fileList);
    }
    // Every command the job sends to `modem`, the session's first one included, until it ends.
    QStringList play(Job started, const Modem &modem, const QStringList &fileList)
    {
        start(started, fileList);
        QStringList commands;
        // The session's first command.
        end = JobAction::send("at#escript=\"\"\r", Timing().answer.unselectScript);
        while (!end.isEnd() && commands.size() < 100) {
            const QByteArray reply = modem(end.command);
            commands << sent(end.command, end.wait, job == Clear ? clear.step() : write.step());
            answer(reply);
        }
        return commands;
    }
    // The job has ended with `text`, a success or failure, sending nothing.
    void expectEnd(const QString &text, bool logText) const
    {
        QVERIFY2(end.kind == (successOf.contains(text) ? JobAction::Kind::Succeed
                                                       : JobAction::Kind::Fail) &&
                     end.command.isEmpty() && end.text == text && end.logText == logText,
                 qPrintable(end.text));
    }
};

} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void runs_data();
    void runs();
    void startForgetsEchoWait();

private:
    QTemporaryDir mDir;
    QString mSettingsPath = mDir.filePath("settings.ini");
    QByteArray mMain;
    QByteArray mConfig;
    QByteArray mSettings = "server::10.0.0.1::Адрес сервера\r\nport::5000::Порт\r\n";
};

void TestOperations::initTestCase()
{
    QFile main(":/files/main.pyo"), config(":/files/config.pyo");
    QVERIFY(mDir.isValid() && main.open(QIODevice::ReadOnly) && config.open(QIODevice::ReadOnly));
    mMain = main.readAll();
    mConfig = config.readAll();
    mSettings = mSettings.leftJustified(settingsLimit, '#');
    // A file of a resource's name on disk must not stand in for the resource.
    QFile onDisk(mDir.filePath("main.pyo"));
    QVERIFY(onDisk.open(QIODevice::WriteOnly) && onDisk.write("x") == 1);
    init(); // the healthy runs of runs_data() read it
}

void TestOperations::init()
{
    QFile file(mSettingsPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(mSettings), qint64(mSettings.size()));
}

// Each row plays a job against the scripted modem, with one answer replaced by `fault`: an
// answer, or a change to the local files ("remove", "empty", "grow", "bogus" resources) made
// just before it. Healthy runs send the whole table of commands; a run with a fault ends
// right after that answer and sends nothing more: every answer of every job in turn replaced
// by a fault; a local file that cannot be written (missing, empty or over the size limit) is
// found before anything is deleted and again before its write command; a file ends only with
// an "OK" to its bytes, which go out once; a listed name with a control character stops the
// job before any delete; after the restart 15 silent "ate0" are absorbed and the 16th fails.
void TestOperations::runs_data()
{
    QTest::addColumn<int>("job");
    QTest::addColumn<QStringList>("files"); // held by the modem
    QTest::addColumn<QStringList>("fileList");
    QTest::addColumn<int>("silent");  // "ate0" unanswered after the restart
    QTest::addColumn<int>("faultAt"); // -1: none
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("text");
    const auto row = [](const QString &name, Job job, const QStringList &files,
                        const QStringList &sent, const QString &text = {}, int at = -1,
                        const QByteArray &fault = {}, int silent = 0) {
        QTest::newRow(qPrintable(name)) << job << files << buttonFiles[job] << silent << at << fault
                                        << sent << (text.isNull() ? successOf[job] : text);
    };
    const QStringList scripts = write("main.pyo", mMain, true) + write("config.pyo", mConfig, true);
    const QStringList settings = write("settings.ini", mSettings, false);
    const QStringList startMain{sent("at#startmodescr=1,10\r", 250, 7),
                                sent("at#escript=\"main.pyo\"\r", 250, 8),
                                sent("at#execscr\r", 250, 9)};
    row("flash keeps the modem's settings", Flash, allThree,
        opening(scriptsOnly) + scripts + startMain);
    row("flash writes the local settings first", Flash, scriptsOnly,
        opening(scriptsOnly) + settings + scripts + startMain);
    row("flash deletes a third script", Flash, {"old.pyo", "settings.ini", "main.pyo"},
        opening({"old.pyo", "main.pyo"}) + scripts + startMain);
    row("flash, a name that differs from settings.ini in case", Flash, {"Settings.ini", "main.pyo"},
        opening({"Settings.ini", "main.pyo"}) + settings + scripts + startMain);
    row("load settings", Load, allThree,
        opening({"settings.ini"}) + settings + settings + startMain);
    row("load settings, modem without settings", Load, scriptsOnly,
        opening({}) + settings + settings + startMain);
    row("clear", Clear, allThree, opening(allThree));
    row("clear an empty modem", Clear, {}, opening({}));
    QTest::newRow("flash with nothing to write")
        << Flash << QStringList{"settings.ini"} << QStringList() << 0 << -1 << QByteArray()
        << opening({}) + startMain << successOf[Flash];

    const QList<QPair<Job, QStringList>> cases{
        {Flash, allThree}, {Flash, scriptsOnly}, {Load, allThree}, {Clear, allThree}};
    constexpr int FlashAll = 0, FlashScripts = 1, LoadAll = 2, ClearAll = 3;
    const QStringList caseNames{"flash", "flash, modem without settings", "load settings", "clear"};
    const QList<QPair<QByteArray, QString>> faults{{QByteArray(), "silence"},
                                                   {"\r\nERROR\r\n", "ERROR"},
                                                   {"\r\n>>> ", "prompt"},
                                                   {ok + ">>> ", "OK and prompt"}};
    QList<QStringList> runs;
    for (const auto &[job, files] : cases)
        runs << Jobs(mDir.path()).play(job, scriptedModem(files), buttonFiles[job]);
    // The healthy run of a case up to answer `at`, which brings the fault.
    const auto fail = [&](int c, const QString &what, int at, const QByteArray &fault,
                          const QString &text = {}) {
        const Job job = cases.at(c).first;
        row(caseNames.at(c) + ": " + what, job, cases.at(c).second, runs.at(c).mid(0, at + 1),
            text.isNull() ? failureOf[job] : text, at, fault);
    };
    for (int c = FlashAll; c <= ClearAll; ++c) {
        const Job job = cases.at(c).first;
        for (int at = 0; at < runs.at(c).size(); ++at) {
            for (const auto &[fault, faultName] : faults) {
                const int step = runs.at(c).at(at).section('#', -1).toInt();
                // The echo-off wait absorbs answers without "OK"; the clear job ignores the
                // prompt; a prompt in the transfer step is the handshake's own business.
                if ((step == 3 && !fault.contains("OK") &&
                     (job == Clear || !fault.contains(">>>"))) ||
                    (job == Clear && fault.contains("OK")) || (step == 6 && fault.contains(">>>")))
                    continue;
                fail(c, faultName + " to " + answered(runs.at(c), at), at, fault);
            }
        }
    }
    // Indexes of answers in the healthy runs: to "at#lscript", to the first write command
    // of FlashAll, to the first delete of LoadAll and FlashScripts' second one, and to the
    // first copy of LoadAll's settings.
    constexpr int listing = 4, writeMain = 7, deleteSettings = 5, deleteConfig = 6, copy = 7;
    const QString file = "Файл settings.ini ", missing = file + "не найден", empty = file + "пуст",
                  tooLarge = file + "слишком большой";
    for (const int c : {FlashScripts, LoadAll}) {
        fail(c, "no local settings", listing, "remove", missing);
        fail(c, "empty local settings", listing, "empty", empty);
        fail(c, "oversized local settings", listing, "grow", tooLarge);
    }
    fail(FlashAll, "resource missing", listing, "bogus", "Файл main.pyo не найден");
    fail(LoadAll, "emptied while deleting", deleteSettings, "empty", empty);
    fail(LoadAll, "grown while deleting", deleteSettings, "grow", tooLarge);
    fail(LoadAll, "removed after the first copy", copy, "remove", missing);
    fail(FlashScripts, "emptied while deleting", deleteConfig, "empty", empty);
    fail(FlashAll, "OK to the write command", writeMain, ok);
    fail(FlashAll, "OK and prompt to the write command", writeMain, ">>> " + ok);
    fail(FlashAll, "OK to the second write command", writeMain + 2, ok);
    fail(FlashAll, "prompt again after the bytes", writeMain + 1, "\r\n>>> ");
    for (int c = FlashScripts; c <= ClearAll; ++c) {
        for (const QByteArray name : {"x\rat#dscript=", "x\nat#dscript=", "x\x7f"})
            fail(c, "hostile listing " + name.toPercentEncoding(), listing,
                 "#LSCRIPT: \"a.pyo\"\r\n#LSCRIPT: \"" + name + "\"\r\n" + ok);
    }
    for (const int c : {FlashAll, ClearAll}) {
        QStringList echoes = runs.at(c);
        for (int i = 0; i < 15; ++i)
            echoes.insert(3, sent("ate0\r", 250, 3));
        const auto &[job, files] = cases.at(c);
        row(caseNames.at(c) + ": 15 silent", job, files, echoes, {}, -1, {}, 15);
        row(caseNames.at(c) + ": 16 silent", job, files, echoes.mid(0, 19), failureOf[job], -1, {},
            16);
    }
}

// The session keeps one object per job and restarts it for every job, so each row runs
// twice on the same objects. A stray answer before the first start or after an end sends
// nothing and reports no success. The clear job judges only "OK": its modem adds a prompt.
void TestOperations::runs()
{
    QFETCH(Job, job);
    QFETCH(QStringList, fileList);
    QFETCH(int, faultAt);
    QFETCH(QByteArray, fault);
    QFETCH(QString, text);
    QFETCH(QStringList, files);
    QFETCH(int, silent);
    Jobs jobs(mDir.path());
    jobs.job = job;
    jobs.answer(ok);
    jobs.expectEnd(failureOf[job == Clear ? job : Flash], false);
    for (int round = 0; round < 2; ++round) {
        init();
        int answers = 0;
        const Modem healthy = scriptedModem(files, silent);
        const QStringList sent = jobs.play(
            job,
            [&](const QByteArray &command) {
                const QByteArray answer = healthy(command) + (job == Clear ? ">>> " : "");
                if (answers++ != faultAt)
                    return answer;
                if (fault == "remove")
                    QFile::remove(mSettingsPath);
                else if (fault == "bogus")
                    jobs.write.setFileSource(FileSource{mDir.path(), ":/bogus/"});
                else if (fault == "empty" || fault == "grow")
                    QFile::resize(mSettingsPath, fault == "empty" ? 0 : settingsLimit + 1);
                else
                    return fault;
                return answer;
            },
            fileList);
        QTEST(sent, "sent");
        jobs.expectEnd(text, job != Clear && (text == successOf[job] || text == failureOf[job]));
        jobs.answer(ok);
        jobs.expectEnd(failureOf[job], false);
    }
}

// A job abandoned inside the echo-off wait leaves no tolerance to the next one. The session
// logs the start texts as a flash or a load starts.
void TestOperations::startForgetsEchoWait()
{
    Jobs jobs(mDir.path());
    for (const Job job : {Flash, Clear}) {
        jobs.start(job, {});
        for (const QByteArray &answer : {ok, ok, ok, QByteArray()})
            QVERIFY(!jobs.answer(answer).isEnd());
        jobs.start(job, {});
        QCOMPARE(jobs.answer(QByteArray()).kind, JobAction::Kind::Fail);
    }
    QCOMPARE(WriteJob::startText(WriteJob::Kind::Flash) + '|' +
                 WriteJob::startText(WriteJob::Kind::LoadSettings),
             QString("Прошивка модема запущена|Загрузка настроек запущена"));
}

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"

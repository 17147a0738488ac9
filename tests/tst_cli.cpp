// The command-line flasher end to end: its own sessions and workers against
// simulated modems on pseudo-terminals, several at once, on the fast timing.
#include "cli/clirunner.h"
#include "filesizelimit.h"
#include "modemsim.h"
#include "protocol/tooltexts.h"
#include "socketbench.h"
#include "testtiming.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>
#include <sys/stat.h>

using TestSupport::fastMs;
using TestSupport::schedulingSlackMs;

namespace {
// Longer than the start delay or a presence command's answer wait, with room to spare.
constexpr int quietMs = fastMs(600);
const QByteArray modemSettings = "APN::modem.apn::Точка входа GPRS";
const QByteArray goodSettings = "DEST_IP::10.0.0.1::IP адрес сервера\r\nAPN::internet::Точка "
                                "входа GPRS";

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/files/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the modem is told for a flash, with each run of "ate0" (the presence
// check, the wait after the restart) counted once.
QList<QByteArray> collapsed(const QList<QByteArray> &commands)
{
    QList<QByteArray> result;
    for (const QByteArray &command : commands) {
        if (command != "ate0" || result.isEmpty() || result.last() != "ate0")
            result << command;
    }
    return result;
}

struct CliRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void refusedBeforeAnyPortIsTouched_data();
    void refusedBeforeAnyPortIsTouched();
    void portsAtOnceEachWithItsOwnEnd();
    void interruptStopsEveryPortAtOnce();
    void settingsReadOnceForEveryPort();
    void readCopiesNamedInTheResults();
    void journalThatCannotBeWrittenFailsTheRun();
    void controlCharactersShownEscaped_data();
    void controlCharactersShownEscaped();

private:
    ModemSim *addModem(bool paced = false);
    CliRun run(const QStringList &arguments);

    std::unique_ptr<QTemporaryDir> mDir;
    QString mOldDir;
    std::unique_ptr<TestSupport::SocketBench> mBench;
};

void TestCli::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    mOldDir = QDir::currentPath();
    QDir::setCurrent(mDir->path());
    mBench = std::make_unique<TestSupport::SocketBench>(TestSupport::fastScale);
}

void TestCli::cleanup()
{
    mBench.reset();
    QDir::setCurrent(mOldDir);
    mDir.reset();
}

ModemSim *TestCli::addModem(bool paced)
{
    ModemSim *sim = mBench->addModem("490154203237518", paced);
    sim->setFile("main.pyo", "old main");
    sim->setFile("config.pyo", "old config");
    sim->setFile("settings.ini", modemSettings);
    return sim;
}

CliRun TestCli::run(const QStringList &arguments)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    CliRun result;
    result.exitCode = runCli(arguments, &out, &err, false, TestSupport::fastTiming());
    result.out = out.data();
    result.err = err.data();
    return result;
}

void TestCli::refusedBeforeAnyPortIsTouched_data()
{
    QTest::addColumn<QStringList>("arguments"); // "PORT" stands for the modem's port
    QTest::addColumn<QByteArray>("settings");   // the local settings.ini; empty: none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // the start of the first line on stderr
    const QByteArray good = goodSettings;
    QTest::newRow("unknown job") << QStringList{"burn", "--port", "PORT"} << good << 2
                                 << "lorta-flash-cli: неизвестная команда: burn";
    QTest::newRow("unknown option") << QStringList{"flash", "--port", "PORT", "--fast"} << good << 2
                                    << "lorta-flash-cli: неизвестный параметр: --fast";
    QTest::newRow("no port") << QStringList{"clear", "--json"} << good << 2
                             << "lorta-flash-cli: не указан ни один --port";
    QTest::newRow("the same port twice, once by its path")
        << QStringList{"clear", "--port", "PORT", "--port", "LINK"} << good << 2
        << "lorta-flash-cli: порт указан дважды";
    QTest::newRow("a bad number") << QStringList{"clear", "--port", "PORT", "--connect-timeout",
                                                 "10s"}
                                  << good << 2
                                  << "lorta-flash-cli: --connect-timeout: нужно целое число";
    QTest::newRow("an option without its value")
        << QStringList{"clear", "--port"} << good << 2
        << "lorta-flash-cli: нет значения у параметра --port";
    QTest::newRow("--out with several ports")
        << QStringList{"read-settings", "--port", "PORT", "--port", "COM9", "--out", "a.ini"}
        << good << 2 << "lorta-flash-cli: --out допустим только с одним портом";
    QTest::newRow("load without settings.ini")
        << QStringList{"load-settings", "--port", "PORT"} << QByteArray() << 1
        << "Файл settings.ini не найден";
    QTest::newRow("a value with ::")
        << QStringList{"load-settings", "--port", "PORT"} << QByteArray("APN::a::b::c") << 1
        << "Файл settings.ini, строка 1: значение содержит \"::\"";
    QTest::newRow("a control character")
        << QStringList{"flash", "--port", "PORT"} << QByteArray("APN::a\tb::c") << 1
        << "Файл settings.ini, строка 1: значение содержит управляющий символ";
    QTest::newRow("a FIFO in its place")
        << QStringList{"load-settings", "--port", "PORT"} << QByteArray("FIFO") << 1
        << "Файл settings.ini не найден";
    QTest::newRow("too large") << QStringList{"flash", "--port", "PORT"} << QByteArray(16385, 'x')
                               << 1 << "Файл settings.ini слишком большой";
    QTest::newRow("the same port, once as the port layer names it under /dev")
        << QStringList{"clear", "--port", "PORT", "--port", "DEVLESS"} << good << 2
        << "lorta-flash-cli: порт указан дважды";
    QTest::newRow("an empty port") << QStringList{"clear", "--port", ""} << good << 2
                                   << "lorta-flash-cli: пустое значение у параметра --port";
    QTest::newRow("help in a port's place") << QStringList{"clear", "--port", "-h"} << good << 2
                                            << "lorta-flash-cli: нет значения у параметра --port";
    QTest::newRow("a number with a space")
        << QStringList{"clear", "--port", "PORT", "--connect-timeout", " 5"} << good << 2
        << "lorta-flash-cli: --connect-timeout: нужно целое число";
    QTest::newRow("an empty journal name")
        << QStringList{"clear", "--port", "PORT", "--log", ""} << good << 2
        << "lorta-flash-cli: пустое значение у параметра --log";
    QTest::newRow("a usage error in JSON")
        << QStringList{"clear", "--json", "--port", "PORT", "--fast"} << good << 2
        << "lorta-flash-cli: неизвестный параметр: --fast";
    QTest::newRow("the journal is the settings file")
        << QStringList{"load-settings", "--port", "PORT", "--log", "SETTINGS_ALIAS"} << good << 2
        << "lorta-flash-cli: один и тот же файл";
    QTest::newRow("two ports, one copy of their settings")
        << QStringList{"read-settings", "--port", "PORT",      "--port",
                       "/dev/порт1",    "--port", "/dev/трос1"}
        << good << 2 << "lorta-flash-cli: один и тот же файл settings-____1.ini";
    QTest::newRow("a port's copy is the journal")
        << QStringList{"read-settings", "--port", "/dev/ttyUSB7", "--log", "settings-ttyUSB7.ini"}
        << good << 2 << "lorta-flash-cli: один и тот же файл settings-ttyUSB7.ini";
    QTest::newRow("a journal on a FIFO")
        << QStringList{"clear", "--port", "PORT", "--json", "--log", "FIFO"} << good << 1
        << "Не удалось открыть журнал FIFO: это не обычный файл";
    QTest::newRow("a journal on a device")
        << QStringList{"clear", "--port", "PORT", "--log", "/dev/full"} << good << 1
        << "Не удалось открыть журнал /dev/full: это не обычный файл";
    QTest::newRow("a link planted at a port's default copy")
        << QStringList{"read-settings", "--port", "PORT", "--port", "/dev/ttyS9"} << good << 1
        << "Файл settings-ttyS9.ini не обычный файл";
}

// A usage error or a settings file that must not go out: not one byte to any modem.
void TestCli::refusedBeforeAnyPortIsTouched()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, settings);
    ModemSim *sim = addModem();
    const QString port = sim->portName();
    QVERIFY(QFile::link(port, QStringLiteral("modem-link")));
    arguments.replaceInStrings(QStringLiteral("LINK"),
                               mDir->filePath(QStringLiteral("modem-link")));
    QVERIFY(QFile::link(QStringLiteral("settings.ini"), QStringLiteral("settings-link")));
    QVERIFY(QFile::link(QStringLiteral("settings.ini"), QStringLiteral("settings-ttyS9.ini")));
    QCOMPARE(::mkfifo("FIFO", 0600), 0);
    arguments.replaceInStrings(QStringLiteral("SETTINGS_ALIAS"), QStringLiteral("settings-link"));
    arguments.replaceInStrings(QStringLiteral("DEVLESS"), port.mid(5));
    arguments.replaceInStrings(QStringLiteral("PORT"), port);
    if (settings == "FIFO") {
        QCOMPARE(::mkfifo("settings.ini", 0600), 0);
    } else if (!settings.isEmpty()) {
        QFile file(QStringLiteral("settings.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
    }
    const CliRun result = run(arguments);
    QTEST(result.exitCode, "exitCode");
    QFETCH(QString, message);
    QVERIFY2(QString::fromUtf8(result.err).startsWith(message), result.err.constData());
    if (arguments.contains(QStringLiteral("--json"))) {
        // A machine reading standard output is told why, in one object.
        const QJsonObject object = QJsonDocument::fromJson(result.out).object();
        QCOMPARE(object.value("ok").toBool(true), false);
        QVERIFY(result.err.contains(object.value("error").toString().toUtf8()));
    } else {
        QCOMPARE(result.out, QByteArray());
    }
    if (result.exitCode == 2)
        QVERIFY(result.err.contains("Использование:"));
    QTest::qWait(quietMs);
    QCOMPARE(sim->commands(), QList<QByteArray>());
}

// Three modems at once: a healthy one is flashed, one falls silent in the
// middle of a file, one never answers the presence check. Each gets exactly its
// own job's commands, and one failure makes the exit status 1.
void TestCli::portsAtOnceEachWithItsOwnEnd()
{
    ModemSim *healthy = addModem();
    ModemSim *stalling = addModem();
    ModemSim *busy = addModem();
    stalling->addFault(
        ModemFault::onPrefix("at#wscript", ModemFault::DataStall, 1).afterDataBytes(100));
    busy->startScript();
    const QByteArray mainScript = resource(QStringLiteral("main.pyo"));
    const QByteArray configScript = resource(QStringLiteral("config.pyo"));

    const CliRun result =
        run({"flash", "--port", healthy->portName(), "--port", stalling->portName(), "--port",
             busy->portName(), "--connect-timeout", "1"});
    QVERIFY2(result.exitCode == 1, result.out.constData());

    const QList<QByteArray> flash{
        "ate0",
        "at#escript=\"\"",
        "at#startmodescr=0",
        "at#enhrst=1,0",
        "ate0",
        "at#lscript",
        "at#dscript=\"main.pyo\"",
        "at#dscript=\"config.pyo\"",
        "at#wscript=\"main.pyo\"," + QByteArray::number(mainScript.size()) + ",1",
        "at#wscript=\"config.pyo\"," + QByteArray::number(configScript.size()) + ",1",
        "at#startmodescr=1,10",
        "at#escript=\"main.pyo\"",
        "at#execscr"};
    QCOMPARE(collapsed(healthy->commands()), flash);
    QCOMPARE(collapsed(stalling->commands()), flash.mid(0, 9));
    QVERIFY(healthy->file("main.pyo") == mainScript && healthy->file("config.pyo") == configScript);
    QCOMPARE(healthy->file("settings.ini"), modemSettings);
    QVERIFY(!busy->commands().isEmpty());
    QVERIFY(std::all_of(busy->commands().cbegin(), busy->commands().cend(),
                        [](const QByteArray &c) { return c == "ate0"; }));

    const QStringList table = QString::fromUtf8(result.out).split(QLatin1Char('\n'));
    const auto row = [&table](const ModemSim *sim) {
        return table.filter(sim->portName()).filter(QStringLiteral("flash")).value(0);
    };
    QVERIFY2(row(healthy).contains(QStringLiteral("успех")) &&
                 row(healthy).endsWith(ToolText::flashed()),
             result.out.constData());
    // The failed port names the step it broke off at.
    QVERIFY2(row(stalling).contains(QStringLiteral("ошибка")) &&
                 row(stalling).contains(QRegularExpression(
                     QRegularExpression::escape(ToolText::flashFailed()) +
                     QStringLiteral(" \\(шаг 6 из 9, main\\.pyo: \\d+ из \\d+ байт\\)$"))),
             qPrintable(row(stalling)));
    QVERIFY(row(busy).endsWith(ToolText::noConnection()));
    // Every event line carries its port and the time stamp.
    QVERIFY2(result.out.contains(healthy->portName().toUtf8() + " | "), result.out.constData());
    QVERIFY(
        QString::fromUtf8(result.out)
            .contains(QRegularExpression(QStringLiteral("\\| \\d\\d:\\d\\d:\\d\\d\\.\\d{3} : ") +
                                         ToolText::connected())));
}

// Ctrl+C in the middle of a file: every port stops at once, nothing more goes
// to any modem, and the run ends with 130 and the step each port was at.
void TestCli::interruptStopsEveryPortAtOnce()
{
    ModemSim *writing = addModem(true);
    ModemSim *waiting = addModem();
    waiting->startScript();

    QElapsedTimer sinceInterrupt;
    QTimer poll;
    poll.setInterval(fastMs(100));
    connect(&poll, &QTimer::timeout, this, [&] {
        if (writing->dataBytesReceived() > 1000 && !sinceInterrupt.isValid()) {
            sinceInterrupt.start();
            ::raise(SIGINT);
        }
    });
    poll.start();
    const QString journal = mDir->filePath(QStringLiteral("journal.log"));
    const CliRun result =
        run({"flash", "--port", writing->portName(), "--port", waiting->portName(), "--json",
             "--log", journal, "--connect-timeout", "60"});
    const qint64 stopMs = sinceInterrupt.elapsed();
    poll.stop();
    QCOMPARE(result.exitCode, 130);
    QVERIFY2(stopMs < fastMs(500) + schedulingSlackMs, qPrintable(QString::number(stopMs)));

    const int commandsAtStop = writing->commands().size() + waiting->commands().size();
    QTest::qWait(quietMs);
    QCOMPARE(writing->commands().size() + waiting->commands().size(), commandsAtStop);
    QVERIFY(!writing->hasFile("main.pyo"));

    const QList<QByteArray> objects = result.out.trimmed().split('\n');
    QCOMPARE(objects.size(), 2);
    const QJsonObject first = QJsonDocument::fromJson(objects.at(0)).object();
    QCOMPARE(first.value("port").toString(), writing->portName());
    QCOMPARE(first.value("job").toString(), QStringLiteral("flash"));
    QCOMPARE(first.value("ok").toBool(true), false);
    QCOMPARE(first.value("interrupted").toBool(), true);
    QVERIFY2(first.value("text").toString().contains(QRegularExpression(
                 QStringLiteral("^Прервано: шаг 6 из 9, main\\.pyo: \\d+ из \\d+ байт$"))),
             qPrintable(first.value("text").toString()));
    const QJsonObject second = QJsonDocument::fromJson(objects.at(1)).object();
    QCOMPARE(second.value("text").toString(), QStringLiteral("Прервано: ожидание связи с модемом"));
    // With --json the events go to stderr; the journal has them all, port by port.
    QFile file(journal);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray lines = file.readAll();
    QVERIFY(lines.contains(writing->portName().toUtf8() + " | "));
    QVERIFY(lines.contains(ToolText::flashStarted().toUtf8()));
    QCOMPARE(lines, result.err);
}

// The file is replaced with one the check would refuse once the run has
// started: every modem still gets the bytes that were checked.
void TestCli::settingsReadOnceForEveryPort()
{
    ModemSim *first = addModem();
    ModemSim *second = addModem();
    QFile file(QStringLiteral("settings.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(goodSettings) == goodSettings.size());
    file.close();
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (first->commands().isEmpty() && second->commands().isEmpty())
            return;
        poll.stop();
        QFile replaced(QStringLiteral("settings.ini"));
        if (replaced.open(QIODevice::WriteOnly))
            replaced.write("APN::a\x07"
                           "b::c");
    });
    poll.start();
    const CliRun result = run({"load-settings", "--port", first->portName(), "--port",
                               second->portName(), "--connect-timeout", "5"});
    QVERIFY2(result.exitCode == 0, result.out.constData());
    QVERIFY(!poll.isActive());
    QCOMPARE(first->file("settings.ini"), goodSettings);
    QCOMPARE(second->file("settings.ini"), goodSettings);
}

// Each port's copy goes to its own file, and the results say which.
void TestCli::readCopiesNamedInTheResults()
{
    ModemSim *first = addModem();
    ModemSim *second = addModem();
    const CliRun result = run({"read-settings", "--port", first->portName(), "--port",
                               second->portName(), "--json", "--connect-timeout", "5"});
    QCOMPARE(result.exitCode, 0);
    const QList<QByteArray> objects = result.out.trimmed().split('\n');
    QCOMPARE(objects.size(), 2);
    QSet<QString> files;
    for (const QByteArray &line : objects) {
        const QString name = QJsonDocument::fromJson(line).object().value("file").toString();
        QVERIFY(name.startsWith(QStringLiteral("settings-pts_")));
        QFile copy(name);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), modemSettings);
        files << name;
    }
    QCOMPARE(files.size(), 2);
}

// A journal on a full disk: the operator is told at once, the job itself goes
// on, and the run does not end as a success.
void TestCli::journalThatCannotBeWrittenFailsTheRun()
{
    ModemSim *sim = addModem();
    CliRun result;
    {
        const TestSupport::FileSizeLimit limit(120);
        result = run(
            {"clear", "--port", sim->portName(), "--log", "journal.log", "--connect-timeout", "5"});
    }
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.out.contains("Модем очищен") || result.out.contains("успех"));
    const QList<QByteArray> errors = result.err.split('\n');
    QVERIFY2(errors.first().startsWith("lorta-flash-cli: не удалось записать журнал journal.log"),
             result.err.constData());
    QCOMPARE(result.err.count("не удалось записать журнал"), 2); // at once, and in the report
}

void TestCli::controlCharactersShownEscaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a forged line") << "a\nb | Модем прошит"
                                   << "a\\nb | Модем прошит";
    QTest::newRow("escape codes") << "\x1b[2J\x1b]0;x\x07"
                                  << "\\x1b[2J\\x1b]0;x\\x07";
    QTest::newRow("C1 and DEL") << QString::fromUtf8("\xc2\x9b\x7f") << "\\x9b\\x7f";
    QTest::newRow("Cyrillic stays") << "Остановка: v1.08"
                                    << "Остановка: v1.08";
}

void TestCli::controlCharactersShownEscaped()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(CliOutput::eventLine(text, text), shown + QStringLiteral(" | ") + shown);
}

QTEST_MAIN(TestCli)
#include "tst_cli.moc"

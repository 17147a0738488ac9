#include "operations/answerclass.h"
#include "operations/filetransfer.h"
#include "operations/readsettingsanswer.h"
#include "operations/restartsteps.h"
#include "operations/scriptlist.h"

#include <QTemporaryDir>
#include <QtTest>

class TestOperationParsers : public QObject
{
    Q_OBJECT

private slots:
    void answerClass_data();
    void answerClass();
    void scriptList_data();
    void scriptList();
    void readSettings_data();
    void readSettings();
    void fileBytesWait_data();
    void fileBytesWait();
    void writeCommand();
};

void TestOperationParsers::answerClass_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("hasOk");
    QTest::addColumn<bool>("hasPrompt");
    const auto row = [](const char *name, const QByteArray &answer, bool ok, bool prompt) {
        QTest::newRow(name) << answer << ok << prompt;
    };
    row("empty", QByteArray(), false, false);
    row("OK after an echo", "ate0\r\r\nOK\r\n", true, false);
    row("OK at the start, inside a word", "OKAY", true, false);
    row("lower case", "\r\nok\r\n", false, false);
    row("prompt at the start", ">>> ", false, true);
    row("two brackets", "\r\n>> ", false, false);
    row("both", "\r\n>>>OK", true, true);
}

void TestOperationParsers::answerClass()
{
    QFETCH(QByteArray, answer);
    QTEST(AnswerClass::of(answer).hasOk(), "hasOk");
    QTEST(AnswerClass::of(answer).hasPrompt(), "hasPrompt");
}

// The names of a listing, and whether the jobs may put them into delete commands.
void TestOperationParsers::scriptList_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("safe");
    const auto row = [](const char *name, const QByteArray &answer, const QStringList &names,
                        bool safe = true) { QTest::newRow(name) << answer << names << safe; };
    row("three files",
        "\r\n#LSCRIPT: \"main.pyo\",12859\r\n#LSCRIPT: \"config.pyo\",2102\r\n"
        "#LSCRIPT: \"settings.ini\",310\r\n\r\nOK\r\n",
        {"main.pyo", "config.pyo", "settings.ini"});
    row("no file line", "\r\nOK\r\n", {});
    row("no quote", "#LSCRIPT: main.pyo\r\n", {});
    row("not at the line start", " #LSCRIPT: \"a\"", {});
    row("lower case prefix", "#lscript: \"a\"", {});
    row("no closing quote", "#LSCRIPT: \"a b\r\nOK", {"a b"});
    row("empty name", "#LSCRIPT: \"\"\r\n", {""});
    row("a lone LF does not end a line", "#LSCRIPT: \"a\"\n#LSCRIPT: \"b\"\r\n", {"a"});
    row("nothing after a zero byte", QByteArray("#LSCRIPT: \"a\"\r\n\0#LSCRIPT: \"b\"", 27), {"a"});
    row("UTF-8 and tilde", "#LSCRIPT: \"файл~\",3\r\n", {"файл~"});
    row("CR in a name", "#LSCRIPT: \"a\rb\"\r\n", {"a\rb"}, false);
    row("unit separator", "#LSCRIPT: \"a\x1f\"\r\n", {"a\x1f"}, false);
    row("DEL", "#LSCRIPT: \"ok\"\r\n#LSCRIPT: \"a\x7f\"", {"ok", "a\x7f"}, false);
}

void TestOperationParsers::scriptList()
{
    QFETCH(QByteArray, answer);
    QTEST(parseScriptList(answer), "names");
    QTEST(RestartSteps::safeListing(answer).has_value(), "safe");
}

void TestOperationParsers::readSettings_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("lines");
    const auto row = [](const char *name, const QByteArray &answer,
                        const QStringList &lines = {"failed"}) {
        QTest::newRow(name) << answer << lines;
    };
    row("empty parts dropped", "\r\nport::5000::Порт\r\n\r\nOK\r\n", {"port::5000::Порт"});
    row("<<< removed", "<<<a::1<<<\r\nb::<<<2\r\nOK\r\n", {"a::1", "b::2"});
    row("a line of only <<< stays empty", "a\r\n<<<\r\nb\r\nOK\r\n", {"a", "", "b"});
    row("only OK", "\r\nOK\r\n", {});
    row("OK once <<< is gone", "a\r\nOK<<<\r\n", {"a"});
    row("a lone LF stays in its line", "a\nb\r\nOK", {"a\nb"});
    row("zero byte after OK", QByteArray("a\r\nOK\r\n\0junk", 13), {"a"});
    row("zero byte before OK", QByteArray("a\r\n\0OK\r\n", 8));
    row("no final OK", "a\r\nb\r\n");
    row("OK inside the last line", "a\r\nOK b\r\n");
    row("lower case ok", "a\r\nok\r\n");
    row("empty answer", QByteArray());
}

void TestOperationParsers::readSettings()
{
    QFETCH(QByteArray, answer);
    QTEST(parseReadSettingsAnswer(answer).value_or(QStringList{"failed"}), "lines");
}

void TestOperationParsers::fileBytesWait_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("wait");

    const QList<QPair<qint64, int>> rows{
        {0, 1500},    {500, 1500},    {501, 1503}, {1000, 3000},
        {1001, 2002}, {12859, 25718}, {-1, 1500},  {qint64(1) << 40, INT_MAX}};
    for (const auto &[size, wait] : rows)
        QTest::addRow("%lld", size) << size << wait;
}

void TestOperationParsers::fileBytesWait()
{
    QFETCH(qint64, size);
    QTEST(::fileBytesWait(size), "wait");
}

// Only the exact name "settings.ini" is read from the local folder; "Settings.ini" is a
// resource name, and the job never writes a resource that does not exist.
void TestOperationParsers::writeCommand()
{
    QTemporaryDir dir;
    QFile local(dir.filePath("settings.ini"));
    QVERIFY(local.open(QIODevice::WriteOnly) && local.write("port::5000") == 10);
    local.close();
    QByteArray bytes;
    QCOMPARE(makeWriteCommand("settings.ini", bytes, FileSource{dir.path()}),
             QByteArray("at#wscript=\"settings.ini\",10\r"));
    QCOMPARE(bytes, QByteArray("port::5000"));
    QCOMPARE(makeWriteCommand("Settings.ini", bytes, FileSource{dir.path()}), QByteArray());
}

QTEST_GUILESS_MAIN(TestOperationParsers)
#include "tst_operationparsers.moc"

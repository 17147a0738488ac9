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
    void parsers_data();
    void parsers();
    void writeCommand();
};

// What each parser makes of an answer, as text: "class" whether it holds "OK" and the
// prompt; "list" the names of a listing and whether the jobs may put them into delete
// commands; "read" the lines a settings read keeps; "wait" the answer wait for file bytes of
// the answer's size.
void TestOperationParsers::parsers_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("result");
    const auto row = [](const char *parser, const char *name, const QByteArray &answer,
                        const QString &result) {
        QTest::addRow("%s: %s", parser, name) << QString(parser) << answer << result;
    };
    row("class", "empty", QByteArray(), "- -");
    row("class", "OK after an echo", "ate0\r\r\nOK\r\n", "OK -");
    row("class", "OK at the start, inside a word", "OKAY", "OK -");
    row("class", "lower case", "\r\nok\r\n", "- -");
    row("class", "prompt at the start", ">>> ", "- >>>");
    row("class", "two brackets", "\r\n>> ", "- -");
    row("class", "both", "\r\n>>>OK", "OK >>>");
    row("list", "three files",
        "\r\n#LSCRIPT: \"main.pyo\",12859\r\n#LSCRIPT: \"config.pyo\",2102\r\n"
        "#LSCRIPT: \"settings.ini\",310\r\n\r\nOK\r\n",
        "main.pyo|config.pyo|settings.ini");
    row("list", "no file line", "\r\nOK\r\n", "none");
    row("list", "no quote", "#LSCRIPT: main.pyo\r\n", "none");
    row("list", "not at the line start", " #LSCRIPT: \"a\"", "none");
    row("list", "lower case prefix", "#lscript: \"a\"", "none");
    row("list", "no closing quote", "#LSCRIPT: \"a b\r\nOK", "a b");
    row("list", "empty name", "#LSCRIPT: \"\"\r\n", "");
    row("list", "a lone LF does not end a line", "#LSCRIPT: \"a\"\n#LSCRIPT: \"b\"\r\n", "a");
    row("list", "nothing after a zero byte", QByteArray("#LSCRIPT: \"a\"\r\n\0#LSCRIPT: \"b\"", 27),
        "a");
    row("list", "UTF-8 and tilde", "#LSCRIPT: \"файл~\",3\r\n", "файл~");
    row("list", "CR in a name", "#LSCRIPT: \"a\rb\"\r\n", "a\rb unsafe");
    row("list", "unit separator", "#LSCRIPT: \"a\x1f\"\r\n", "a\x1f unsafe");
    row("list", "DEL", "#LSCRIPT: \"ok\"\r\n#LSCRIPT: \"a\x7f\"", "ok|a\x7f unsafe");
    row("read", "empty parts dropped", "\r\nport::5000::Порт\r\n\r\nOK\r\n", "port::5000::Порт");
    row("read", "<<< removed", "<<<a::1<<<\r\nb::<<<2\r\nOK\r\n", "a::1|b::2");
    row("read", "a line of only <<< stays empty", "a\r\n<<<\r\nb\r\nOK\r\n", "a||b");
    row("read", "only OK", "\r\nOK\r\n", "none");
    row("read", "OK once <<< is gone", "a\r\nOK<<<\r\n", "a");
    row("read", "a lone LF stays in its line", "a\nb\r\nOK", "a\nb");
    row("read", "zero byte after OK", QByteArray("a\r\nOK\r\n\0junk", 13), "a");
    row("read", "zero byte before OK", QByteArray("a\r\n\0OK\r\n", 8), "failed");
    row("read", "no final OK", "a\r\nb\r\n", "failed");
    row("read", "OK inside the last line", "a\r\nOK b\r\n", "failed");
    row("read", "lower case ok", "a\r\nok\r\n", "failed");
    row("read", "empty answer", QByteArray(), "failed");
    const QList<QPair<qint64, int>> waits{
        {0, 1500},    {500, 1500},    {501, 1503}, {1000, 3000},
        {1001, 2002}, {12859, 25718}, {-1, 1500},  {qint64(1) << 40, INT_MAX}};
    for (const auto &[size, wait] : waits)
        row("wait", qPrintable(QString::number(size)), QByteArray::number(size),
            QString::number(wait));
}

void TestOperationParsers::parsers()
{
    QFETCH(QString, parser);
    QFETCH(QByteArray, answer);
    const auto shown = [](const QStringList &list) {
        return list.isEmpty() ? "none" : list.join('|');
    };
    QString result = QString::number(fileBytesWait(answer.toLongLong()));
    if (parser == "class")
        result = QString(AnswerClass::of(answer).hasOk() ? "OK " : "- ") +
                 (AnswerClass::of(answer).hasPrompt() ? ">>>" : "-");
    else if (parser == "list")
        result = shown(parseScriptList(answer)) +
                 (RestartSteps::safeListing(answer).has_value() ? "" : " unsafe");
    else if (parser == "read")
        result =
            parseReadSettingsAnswer(answer) ? shown(*parseReadSettingsAnswer(answer)) : "failed";
    QTEST(result, "result");
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

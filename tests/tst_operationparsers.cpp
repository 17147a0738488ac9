#include "operations/filetransfer.h"
#include "operations/readsettingsanswer.h"
#include "operations/restartsteps.h"
#include "operations/scriptlist.h"
#include "protocol/answerclass.h"

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
// commands; "read" the lines a settings read keeps, or "failed" when the answer has no final
// "OK" or holds no settings file.
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
    row("read", "<<< removed", "<<<a::1::x<<<\r\nb::<<<2::y\r\nOK\r\n", "a::1::x|b::2::y");
    row("read", "a line of only <<< stays empty", "a::1::x\r\n<<<\r\nb::2::y\r\nOK\r\n",
        "a::1::x||b::2::y");
    row("read", "only OK", "\r\nOK\r\n", "none");
    row("read", "OK once <<< is gone", "a::1::x\r\nOK<<<\r\n", "a::1::x");
    row("read", "a lone LF or CR stays in its line", "a::1::x\ny\r\nb::2\r::z\r\nOK",
        "a::1::x\ny|b::2\r::z");
    row("read", "zero byte after OK", QByteArray("a::1::x\r\nOK\r\n\0junk", 19), "a::1::x");
    row("read", "empty fields", "::::\r\nOK", "::::");
    row("read", "a real replacement character", "APN::\xef\xbf\xbd::d\r\nOK", "APN::\uFFFD::d");
    row("read", "zero byte before OK", QByteArray("a::1::x\r\n\0OK\r\n", 14), "failed");
    row("read", "no final OK", "a::1::x\r\nb::2::y\r\n", "failed");
    row("read", "OK inside the last line", "a::1::x\r\nOK b\r\n", "failed");
    row("read", "lower case ok", "a::1::x\r\nok\r\n", "failed");
    row("read", "empty answer", QByteArray(), "failed");
    // Not a settings file: the local file must stay as it is.
    row("read", "two fields", "a::1::x\r\nb::2\r\nOK\r\n", "failed");
    row("read", "four fields", "a::1::x::y\r\nOK\r\n", "failed");
    row("read", "no separator", "a\r\nOK\r\n", "failed");
    row("read", "line ends as bare LF", "a::1::x\nb::2::y\r\nOK", "failed");
    row("read", "windows-1251 text", "APN::\xe8\xed\xf2\xe5\xf0\xed\xe5\xf2::d\r\nOK", "failed");
    row("read", "lead byte without its continuation", "APN::\xd0::d\r\nOK", "failed");
    row("read", "overlong encoding", "APN::\xc0\xaf::d\r\nOK", "failed");
    row("read", "encoded surrogate", "APN::\xed\xa0\x80::d\r\nOK", "failed");
    row("read", "tab", "APN::a\tb::d\r\nOK", "failed");
    row("read", "escape sequence", "APN::\x1b[2J::d\r\nOK", "failed");
    row("read", "DEL", "APN::a\x7f::d\r\nOK", "failed");
    // The size as stored: the kept lines with CR LF between them, in UTF-8 bytes.
    const QByteArray half = QByteArray("A::1::").leftJustified(8000, 'x');
    row("read", "at the size limit", half + "\r\n" + half.leftJustified(8382, 'y') + "\r\nOK",
        QString(half + '|' + half.leftJustified(8382, 'y')));
    row("read", "a byte over the limit", half + "\r\n" + half.leftJustified(8383, 'y') + "\r\nOK",
        "failed");
    row("read", "over the limit in bytes, not in characters",
        "A::1::" + QString(8190, QChar(0x044f)).toUtf8() + "\r\nOK", "failed");
    QByteArray noise;
    for (int i = 0; noise.size() < 4096; ++i)
        noise += char(1 + (i * 7919) % 255);
    row("read", "4 KB of line noise", "\r\n<<<" + noise + "\r\nOK\r\n", "failed");
}

void TestOperationParsers::parsers()
{
    QFETCH(QString, parser);
    QFETCH(QByteArray, answer);
    const auto shown = [](const QStringList &list) {
        return list.isEmpty() ? "none" : list.join('|');
    };
    QString result;
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

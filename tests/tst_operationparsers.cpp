#include "operations/answerclass.h"
#include "operations/filetransfer.h"
#include "operations/readsettingsanswer.h"
#include "operations/scriptlist.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestOperationParsers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answerClass_data();
    void answerClass();
    void scriptList_data();
    void scriptList();
    void controlCharacter_data();
    void controlCharacter();
    void readSettings_data();
    void readSettings();
    void fileBytesWait_data();
    void fileBytesWait();
    void writeCommand_data();
    void writeCommand();
    void deleteCommand();

private:
    QTemporaryDir mDir;
};

namespace {
QByteArray resourceBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}
} // namespace

void TestOperationParsers::initTestCase()
{
    QVERIFY(mDir.isValid());
    QVERIFY(QDir(mDir.path()).mkpath("local"));
    QVERIFY(QDir(mDir.path()).mkpath("empty"));
    QVERIFY(QDir(mDir.path()).mkpath("res"));
    writeFile(mDir.filePath("local/settings.ini"), "port::5000::Порт\r\n");
    writeFile(mDir.filePath("local/main.pyo"), "not the resource");
    writeFile(mDir.filePath("empty/settings.ini"), QByteArray());
    writeFile(mDir.filePath("res/Settings.ini"), "abc");
    QVERIFY(!resourceBytes(":/files/main.pyo").isEmpty());
}

void TestOperationParsers::answerClass_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("okAt");
    QTest::addColumn<int>("promptAt");

    QTest::newRow("empty") << QByteArray() << -1 << -1;
    QTest::newRow("OK after an echo") << QByteArray("ate0\r\r\nOK\r\n") << 7 << -1;
    QTest::newRow("OK inside a word") << QByteArray("BOOKS") << 2 << -1;
    QTest::newRow("lower case") << QByteArray("\r\nok\r\n") << -1 << -1;
    QTest::newRow("prompt") << QByteArray("\r\n>>> ") << -1 << 2;
    QTest::newRow("two brackets") << QByteArray("\r\n>> ") << -1 << -1;
    QTest::newRow("both") << QByteArray(">>>OK") << 3 << 0;
}

void TestOperationParsers::answerClass()
{
    QFETCH(QByteArray, answer);
    const AnswerClass answerClass = AnswerClass::of(answer);
    QTEST(answerClass.okAt, "okAt");
    QTEST(answerClass.promptAt, "promptAt");
}

void TestOperationParsers::scriptList_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("three files")
        << QByteArray("\r\n#LSCRIPT: \"main.pyo\",12859\r\n#LSCRIPT: \"config.pyo\",2102\r\n"
                      "#LSCRIPT: \"settings.ini\",310\r\n\r\nOK\r\n")
        << QStringList{"main.pyo", "config.pyo", "settings.ini"};
    QTest::newRow("no file line") << QByteArray("\r\nOK\r\n") << QStringList();
    QTest::newRow("empty answer") << QByteArray() << QStringList();
    QTest::newRow("no quote after the prefix")
        << QByteArray("#LSCRIPT: main.pyo\r\nOK\r\n") << QStringList();
    QTest::newRow("prefix not at the line start")
        << QByteArray(" #LSCRIPT: \"a.pyo\"\r\n") << QStringList();
    QTest::newRow("lower case prefix") << QByteArray("#lscript: \"a.pyo\"\r\n") << QStringList();
    QTest::newRow("no closing quote")
        << QByteArray("#LSCRIPT: \"main.pyo\r\nOK\r\n") << QStringList{"main.pyo"};
    QTest::newRow("empty name") << QByteArray("#LSCRIPT: \"\"\r\n") << QStringList{""};
    QTest::newRow("a lone LF does not end a line")
        << QByteArray("#LSCRIPT: \"a.pyo\"\n#LSCRIPT: \"b.pyo\"\r\n") << QStringList{"a.pyo"};
    QTest::newRow("a lone CR stays in the name")
        << QByteArray("#LSCRIPT: \"a\rb\"\r\n") << QStringList{"a\rb"};
    QTest::newRow("nothing after a zero byte")
        << QByteArray("#LSCRIPT: \"a.pyo\"\r\n\0#LSCRIPT: \"b.pyo\"\r\n", 40)
        << QStringList{"a.pyo"};
    QTest::newRow("UTF-8 name") << QByteArray("#LSCRIPT: \"файл.pyo\",3\r\n")
                                << QStringList{"файл.pyo"};
}

void TestOperationParsers::scriptList()
{
    QFETCH(QByteArray, answer);
    QTEST(parseScriptList(answer), "names");
}

void TestOperationParsers::controlCharacter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("control");

    QTest::newRow("plain") << "main.pyo" << false;
    QTest::newRow("space and Cyrillic") << "мой файл.ini" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("CR") << "a\rat+cfun=0" << true;
    QTest::newRow("LF") << "a\nb" << true;
    QTest::newRow("tab") << "a\tb" << true;
    QTest::newRow("unit separator") << "a\x1f" << true;
    QTest::newRow("DEL") << "a\x7f" << true;
    QTest::newRow("tilde") << "a~" << false;
}

void TestOperationParsers::controlCharacter()
{
    QFETCH(QString, name);
    QTEST(hasControlCharacter(name), "control");
}

void TestOperationParsers::readSettings_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("empty parts dropped") << QByteArray("\r\nport::5000::Порт\r\n\r\nOK\r\n") << true
                                         << QStringList{"port::5000::Порт"};
    QTest::newRow("<<< removed") << QByteArray("<<<a::1::x<<<\r\nb::<<<2::y\r\nOK\r\n") << true
                                 << QStringList{"a::1::x", "b::2::y"};
    QTest::newRow("a line of only <<< stays empty")
        << QByteArray("a\r\n<<<\r\nb\r\nOK\r\n") << true << QStringList{"a", "", "b"};
    QTest::newRow("only OK") << QByteArray("\r\nOK\r\n") << true << QStringList();
    QTest::newRow("OK once <<< is gone")
        << QByteArray("a\r\nOK<<<\r\n") << true << QStringList{"a"};
    QTest::newRow("a lone LF stays in its line")
        << QByteArray("a\nb\r\nOK") << true << QStringList{"a\nb"};
    QTest::newRow("zero byte after OK")
        << QByteArray("a\r\nOK\r\n\0junk", 13) << true << QStringList{"a"};
    QTest::newRow("zero byte before OK")
        << QByteArray("a\r\n\0OK\r\n", 8) << false << QStringList();
    QTest::newRow("no final OK") << QByteArray("a\r\nb\r\n") << false << QStringList();
    QTest::newRow("OK inside the last line")
        << QByteArray("a\r\nOK b\r\n") << false << QStringList();
    QTest::newRow("OK inside an earlier line")
        << QByteArray("OK a\r\nb\r\n") << false << QStringList();
    QTest::newRow("lower case ok") << QByteArray("a\r\nok\r\n") << false << QStringList();
    QTest::newRow("empty answer") << QByteArray() << false << QStringList();
}

void TestOperationParsers::readSettings()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, read);
    const std::optional<QStringList> lines = parseReadSettingsAnswer(answer);
    QCOMPARE(lines.has_value(), read);
    if (read)
        QTEST(*lines, "lines");
}

void TestOperationParsers::fileBytesWait_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("wait");

    QTest::newRow("0") << qint64(0) << 1500;
    QTest::newRow("400") << qint64(400) << 1500;
    QTest::newRow("500") << qint64(500) << 1500;
    QTest::newRow("501") << qint64(501) << 1503;
    QTest::newRow("1000") << qint64(1000) << 3000;
    QTest::newRow("1001") << qint64(1001) << 2002;
    QTest::newRow("2102") << qint64(2102) << 4204;
    QTest::newRow("12859") << qint64(12859) << 25718;
}

void TestOperationParsers::fileBytesWait()
{
    QFETCH(qint64, size);
    QTEST(::fileBytesWait(size), "wait");
}

void TestOperationParsers::writeCommand_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("localDir");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QByteArray>("command"); // empty: the file cannot be read
    QTest::addColumn<QByteArray>("bytes");

    const QString local = mDir.filePath("local");
    const QString res = mDir.filePath("res/");
    const QByteArray main = resourceBytes(":/files/main.pyo");
    const QByteArray config = resourceBytes(":/files/config.pyo");
    const QByteArray untouched("untouched");

    QTest::newRow("main.pyo from the resources")
        << QByteArray("main.pyo") << local << ":/files/"
        << "at#wscript=\"main.pyo\"," + QByteArray::number(main.size()) + ",1\r" << main;
    QTest::newRow("config.pyo from the resources")
        << QByteArray("config.pyo") << local << ":/files/"
        << "at#wscript=\"config.pyo\"," + QByteArray::number(config.size()) + ",1\r" << config;
    QTest::newRow("local settings.ini, no flag")
        << QByteArray("settings.ini") << local << res
        << QByteArray("at#wscript=\"settings.ini\",22\r") << QByteArray("port::5000::Порт\r\n");
    QTest::newRow("Settings.ini is a resource name")
        << QByteArray("Settings.ini") << local << res
        << QByteArray("at#wscript=\"Settings.ini\",3,1\r") << QByteArray("abc");
    QTest::newRow("empty local settings.ini")
        << QByteArray("settings.ini") << mDir.filePath("empty") << res
        << QByteArray("at#wscript=\"settings.ini\",0\r") << QByteArray();
    QTest::newRow("missing local settings.ini")
        << QByteArray("settings.ini") << mDir.filePath("none") << res << QByteArray() << untouched;
    QTest::newRow("resources never looked up on disk")
        << QByteArray("main.pyo") << local << ":/bogus/" << QByteArray() << untouched;
}

void TestOperationParsers::writeCommand()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, localDir);
    QFETCH(QString, prefix);
    FileSource source;
    source.localDir = localDir;
    source.resourcePrefix = prefix;
    QByteArray fileBytes("untouched");
    QTEST(makeWriteCommand(name, fileBytes, source), "command");
    QTEST(fileBytes, "bytes");
}

void TestOperationParsers::deleteCommand()
{
    QCOMPARE(makeDeleteCommand("main.pyo"), QByteArray("at#dscript=\"main.pyo\"\r"));
}

QTEST_GUILESS_MAIN(TestOperationParsers)
#include "tst_operationparsers.moc"

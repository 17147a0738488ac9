#include "settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

using Fields = QList<QPair<QString, QString>>;

namespace {

QStringList templateLines()
{
    return {
        QStringLiteral("CRYPT_DATA::0::Шифровать данные (1 - вкл., 0 - выкл.)"),
        QStringLiteral("DEBUG_SER::0::Вывод отладочной информации в последовательный порт (1 - "
                       "вкл., 0 - выкл.)"),
        QStringLiteral("PIN::4721::PIN-код"),
        QStringLiteral("APN::internet::Точка входа GPRS"),
        QStringLiteral("GPRS_USER::plomk::Имя пользователя GPRS"),
        QStringLiteral("GPRS_PASSWD::plomk::Пароль GPRS"),
        QStringLiteral("DEST_IP::192.168.1.1::Адрес назначения исходящего соединения"),
        QStringLiteral("DEST_PORT::1234::Порт назначения исходящего соединения"),
        QStringLiteral("SER_SP::38400::Скорость последовательного порта (бит/сек)"),
    };
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void templateIsExactAndShared();
    void writerTemplateBytes();
    void writer_data();
    void writer();
    void writerFailureLeavesFile_data();
    void writerFailureLeavesFile();
    void reader_data();
    void reader();
    void readerFallsBackToTemplate();
    void fields_data();
    void fields();
    void composeTakesTemplateOrderAndDescriptions();

private:
    QTemporaryDir mDir;
};

void TestSettingsFile::templateIsExactAndShared()
{
    QCOMPARE(defaultSettings(), templateLines());
    QStringList copy = defaultSettings();
    copy[0] = QStringLiteral("CRYPT_DATA::1::x");
    copy << QStringLiteral("EXTRA::1::x");
    QCOMPARE(defaultSettings(), templateLines());
}

void TestSettingsFile::writerTemplateBytes()
{
    const QString path = mDir.filePath(QStringLiteral("template.ini"));
    QVERIFY(writeLinesToFile(path, defaultSettings()));
    const QByteArray bytes = readBytes(path);
    QCOMPARE(bytes.count("\r\n"), 8);
    QCOMPARE(bytes.count('\n'), 8);
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(!bytes.endsWith("\r\n"));
    QVERIFY(bytes.startsWith(QStringLiteral("CRYPT_DATA::0::Шифровать данные (1 - вкл., 0 - "
                                            "выкл.)\r\nDEBUG_SER::0::")
                                 .toUtf8()));
    QCOMPARE(QString::fromUtf8(bytes).split(QStringLiteral("\r\n")), templateLines());
}

void TestSettingsFile::writer_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("previous"); // null: no file before
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("one line, new file")
        << QStringList{"A::1::d"} << QByteArray() << QByteArray("A::1::d");
    QTest::newRow("longer file is replaced whole")
        << QStringList{"A::1::d", "B::2::e"} << QByteArray(4096, 'x')
        << QByteArray("A::1::d\r\nB::2::e");
    QTest::newRow("empty lines kept") << QStringList{"", ""} << QByteArray() << QByteArray("\r\n");
    QTest::newRow("empty list empties the file")
        << QStringList() << QByteArray("old") << QByteArray("");
}

void TestSettingsFile::writer()
{
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, previous);
    QFETCH(QByteArray, expected);
    const QString path = mDir.filePath(QStringLiteral("writer.ini"));
    QFile::remove(path);
    if (!previous.isNull())
        writeBytes(path, previous);

    QVERIFY(writeLinesToFile(path, lines));
    QCOMPARE(readBytes(path), expected);
}

void TestSettingsFile::writerFailureLeavesFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::newRow("target is a directory") << "directory";
    QTest::newRow("parent directory missing") << "missing parent";
    QTest::newRow("read-only file") << "read-only file";
    QTest::newRow("writable file in read-only directory") << "read-only directory";
}

void TestSettingsFile::writerFailureLeavesFile()
{
    QFETCH(QString, setup);
    const bool permissionCase = setup.startsWith(QLatin1String("read-only"));
    if (permissionCase && geteuid() == 0)
        QSKIP("permission bits do not stop root");

    QTemporaryDir dir;
    const QString locked = dir.filePath(QStringLiteral("locked"));
    // Give the directory back even when a check fails, so it can be removed.
    const auto unlock = qScopeGuard([&locked] {
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    QString path = dir.filePath(QStringLiteral("settings.ini"));
    const QByteArray old("APN::old::d");
    if (setup == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("settings.ini")));
    } else if (setup == QLatin1String("missing parent")) {
        path = dir.filePath(QStringLiteral("absent/settings.ini"));
    } else if (setup == QLatin1String("read-only file")) {
        writeBytes(path, old);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    } else {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
        path = locked + QStringLiteral("/settings.ini");
        writeBytes(path, old);
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    }

    QVERIFY(!writeLinesToFile(path, defaultSettings()));
    if (permissionCase) {
        QCOMPARE(readBytes(path), old);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{"settings.ini"});
    } else {
        QVERIFY(!QFileInfo(path).isFile());
    }
}

void TestSettingsFile::reader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("trailing CR LF gives an empty last line")
        << QByteArray("A::1::a\r\nB::2::b\r\n") << QStringList{"A::1::a", "B::2::b", ""};
    QTest::newRow("bare LF is not a line end")
        << QByteArray("A::1::a\nB::2::b") << QStringList{"A::1::a\nB::2::b"};
    QTest::newRow("empty file is one empty line") << QByteArray("") << QStringList{""};
    QTest::newRow("text ends at a NUL byte")
        << QByteArray("A::1::a\r\nB::2") + '\0' + QByteArray("::b\r\nC::3::c")
        << QStringList{"A::1::a", "B::2"};
    QTest::newRow("UTF-8 text") << QStringLiteral("PIN::1::PIN-код").toUtf8()
                                << QStringList{QStringLiteral("PIN::1::PIN-код")};
}

void TestSettingsFile::reader()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    const QString path = mDir.filePath(QStringLiteral("reader.ini"));
    writeBytes(path, content);
    QCOMPARE(readSettingsLines(path), lines);
}

void TestSettingsFile::readerFallsBackToTemplate()
{
    QCOMPARE(readSettingsLines(mDir.filePath(QStringLiteral("absent.ini"))), templateLines());
    QCOMPARE(readSettingsLines(mDir.path()), templateLines());
}

void TestSettingsFile::fields_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Fields>("fields");

    QTest::newRow("file order, duplicates kept")
        << QStringList{"APN::a::d", "PIN::1::d", "APN::b::d"}
        << Fields{{"APN", "a"}, {"PIN", "1"}, {"APN", "b"}};
    QTest::newRow("value holding the separator") << QStringList{"APN::a::b::d"} << Fields();
    QTest::newRow("empty value and description")
        << QStringList{"APN::::d", "PIN::1::"} << Fields{{"APN", ""}, {"PIN", "1"}};
    QTest::newRow("keys are taken verbatim")
        << QStringList{"apn::x::d", " APN::y::d"} << Fields{{"apn", "x"}, {" APN", "y"}};
    QTest::newRow("too few fields, empty line") << QStringList{"", "APN::x", "APN"} << Fields();
    QTest::newRow("lines joined by bare LF") << QStringList{"APN::x::d\nPIN::1::d"} << Fields();
}

void TestSettingsFile::fields()
{
    QFETCH(QStringList, lines);
    QFETCH(Fields, fields);
    QCOMPARE(settingsFields(lines), fields);
}

void TestSettingsFile::composeTakesTemplateOrderAndDescriptions()
{
    const QHash<QString, QString> values{
        {"SER_SP", "9600"}, {"APN", " my::apn "}, {"CRYPT_DATA", "1"}, {"OTHER", "x"}};
    QStringList expected = templateLines();
    expected[0] = QStringLiteral("CRYPT_DATA::1::Шифровать данные (1 - вкл., 0 - выкл.)");
    expected[3] = QStringLiteral("APN:: my::apn ::Точка входа GPRS");
    expected[8] = QStringLiteral("SER_SP::9600::Скорость последовательного порта (бит/сек)");
    QCOMPARE(composeSettings(values), expected);
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"

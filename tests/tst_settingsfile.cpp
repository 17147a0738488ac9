#include "filesizelimit.h"
#include "modembench.h"
#include "settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using TestSupport::FileSizeLimit;
using Fields = QList<QPair<QString, QString>>;

namespace {

const QStringList templateLines{
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

// Runs the call on a thread of its own that obeys file permission bits like an
// ordinary user's, even when the tests run as root (capabilities are per thread,
// so the rest of the process keeps its rights). False when that cannot be done.
bool runAsUser(const std::function<void()> &call)
{
    bool dropped = geteuid() != 0;
    std::thread worker([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (!dropped && syscall(SYS_capget, &header, data) == 0) {
            const quint32 bypass = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
            data[0].effective &= ~bypass;
            data[0].permitted &= ~bypass;
            dropped = syscall(SYS_capset, &header, data) == 0;
        }
        if (dropped)
            call();
    });
    worker.join();
    return dropped;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void templateBytes();
    void writer_data();
    void writer();
    void reader_data();
    void reader();
    void composeTakesTemplateOrderAndDescriptions();

private:
    QTemporaryDir mDir;
};

void TestSettingsFile::templateBytes()
{
    QCOMPARE(defaultSettings(), templateLines);
    const QString path = mDir.filePath(QStringLiteral("template.ini"));
    QVERIFY(writeLinesToFile(path, defaultSettings()));
    QCOMPARE(TestSupport::readFile(path), templateLines.join(QStringLiteral("\r\n")).toUtf8());
}

// Every write either puts all the new bytes in place or leaves the old file
// byte for byte with no stray file beside it. A folder that refuses new files
// gets the file rewritten in place: the same file, owner and mode.
void TestSettingsFile::writer_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QByteArray>("previous"); // null: no file before
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArray>("expected"); // null: the write fails
    const QByteArray old("APN::old::d");
    const QStringList two{"A::1::d", "B::2::e"};
    const auto row = [](const char *name, const QString &setup, const QByteArray &previous,
                        const QStringList &lines, const QByteArray &expected) {
        QTest::newRow(name) << setup << previous << lines << expected;
    };
    row("new file", "", QByteArray(), {"A::1::d"}, "A::1::d");
    row("longer file is replaced whole", "", QByteArray(4096, 'x'), two, "A::1::d\r\nB::2::e");
    row("empty lines kept", "", QByteArray(), {"", ""}, "\r\n");
    row("empty list empties the file", "", old, {}, "");
    row("folder refuses new files", "locked", QByteArray(4096, 'x'), two, "A::1::d\r\nB::2::e");
    row("target is a directory", "directory", QByteArray(), two, QByteArray());
    row("parent directory missing", "missing parent", QByteArray(), two, QByteArray());
    row("read-only file", "read-only", old, two, QByteArray());
    row("disk full", "full", old, defaultSettings(), QByteArray());
    row("disk full, folder refuses new files", "full locked", old, defaultSettings(), QByteArray());
    row("no file, folder refuses new files", "locked", QByteArray(), two, QByteArray());
}

void TestSettingsFile::writer()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, previous);
    QFETCH(QStringList, lines);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QString folder = dir.path();
    QString path = folder + QStringLiteral("/settings.ini");
    if (!previous.isNull())
        QVERIFY(TestSupport::writeFile(path, previous));
    if (setup == QLatin1String("directory"))
        QVERIFY(QDir(folder).mkdir(QStringLiteral("settings.ini")));
    if (setup == QLatin1String("missing parent"))
        path = folder + QStringLiteral("/absent/settings.ini");
    if (setup == QLatin1String("read-only"))
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    struct stat before = {};
    stat(path.toLocal8Bit().constData(), &before);
    const auto unlock = qScopeGuard([&folder] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (setup.endsWith(QLatin1String("locked")))
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

    bool written = false;
    FileSizeLimit disk(setup.startsWith(QLatin1String("full")) ? previous.size() + 10
                                                               : RLIM_INFINITY);
    if (!runAsUser([&] { written = writeLinesToFile(path, lines); }))
        QSKIP("cannot drop root's permission override here");
    QCOMPARE(written, !expected.isNull());
    const QByteArray after = expected.isNull() ? previous : expected;
    QCOMPARE(TestSupport::readFile(path), after);
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             after.isNull() ? QStringList() : QStringList{"settings.ini"});
    struct stat now = {};
    stat(path.toLocal8Bit().constData(), &now);
    if (!previous.isNull() && setup.endsWith(QLatin1String("locked")))
        QVERIFY(now.st_ino == before.st_ino && now.st_mode == before.st_mode);
}

// The file's lines (text up to a zero byte, split on CR LF only) and the key
// and value of every line of exactly three fields, in file order.
void TestSettingsFile::reader_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<Fields>("fields");
    const auto row = [](const char *name, const QByteArray &content, const QStringList &lines,
                        const Fields &fields) {
        QTest::newRow(name) << content << lines << fields;
    };
    row("trailing CR LF gives an empty last line", "A::1::a\r\nB::2::b\r\n",
        {"A::1::a", "B::2::b", ""}, {{"A", "1"}, {"B", "2"}});
    row("bare LF is not a line end", "A::1::a\nB::2::b", {"A::1::a\nB::2::b"}, {});
    row("empty file is one empty line", "", {""}, {});
    row("text ends at a NUL byte", QByteArray("A::1::a\r\nB::2\0::b\r\nC::3::c", 26),
        {"A::1::a", "B::2"}, {{"A", "1"}});
    row("UTF-8 text", QStringLiteral("PIN::1::PIN-код").toUtf8(),
        {QStringLiteral("PIN::1::PIN-код")}, {{"PIN", "1"}});
    row("no file gives the template", QByteArray(), templateLines,
        {{"CRYPT_DATA", "0"},
         {"DEBUG_SER", "0"},
         {"PIN", "4721"},
         {"APN", "internet"},
         {"GPRS_USER", "plomk"},
         {"GPRS_PASSWD", "plomk"},
         {"DEST_IP", "192.168.1.1"},
         {"DEST_PORT", "1234"},
         {"SER_SP", "38400"}});
    row("duplicates kept, separator in a value, empty fields, verbatim keys",
        "APN::a::d\r\nPIN::1::x::d\r\nAPN::::d\r\napn::x::\r\n APN::y::d\r\nAPN::x\r\nAPN",
        {"APN::a::d", "PIN::1::x::d", "APN::::d", "apn::x::", " APN::y::d", "APN::x", "APN"},
        {{"APN", "a"}, {"APN", ""}, {"apn", "x"}, {" APN", "y"}});
}

void TestSettingsFile::reader()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lines);
    const QString path = mDir.filePath(QStringLiteral("reader.ini"));
    QFile::remove(path);
    if (!content.isNull())
        QVERIFY(TestSupport::writeFile(path, content));
    QCOMPARE(readSettingsLines(path), lines);
    QTEST(settingsFields(lines), "fields");
}

void TestSettingsFile::composeTakesTemplateOrderAndDescriptions()
{
    const QHash<QString, QString> values{
        {"SER_SP", "9600"}, {"APN", " my::apn "}, {"CRYPT_DATA", "1"}, {"OTHER", "x"}};
    QStringList expected = templateLines;
    expected[0] = QStringLiteral("CRYPT_DATA::1::Шифровать данные (1 - вкл., 0 - выкл.)");
    expected[3] = QStringLiteral("APN:: my::apn ::Точка входа GPRS");
    expected[8] = QStringLiteral("SER_SP::9600::Скорость последовательного порта (бит/сек)");
    QCOMPARE(composeSettings(values), expected);
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"

#include "settings/settingsfile.h"
#include "settings/widgetsettings.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <unistd.h>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

namespace {

const QString settingsName = QStringLiteral("settings.ini");
const QString savedBox = QStringLiteral("Информация|Настройки сохранены");
const QString changedBox = QStringLiteral("Ошибка|Файл настроек изменен иным способом!");

QString openFailureBox(const QString &fileName)
{
    return QStringLiteral("Ошибка|Не удалось открыть файл ") + fileName +
           QStringLiteral(" и сохранить настройки");
}

QByteArray bytesOf(const QStringList &lines)
{
    return lines.join(QStringLiteral("\r\n")).toUtf8();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// What a path holds, to show that a failed Apply changed nothing.
QByteArray snapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return "<dir " +
               QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(' ').toUtf8() +
               '>';
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// Makes a file or directory unwritable for this process: permission bits for
// an ordinary user, the immutable attribute for root, whom the bits do not stop.
class ReadOnlyPath
{
public:
    explicit ReadOnlyPath(const QString &path) : mPath(path), mPermissions(QFile::permissions(path))
    {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        mLocked = geteuid() != 0 || setImmutable(true);
    }
    ~ReadOnlyPath()
    {
        if (geteuid() == 0)
            setImmutable(false);
        QFile::setPermissions(mPath, mPermissions);
    }
    ReadOnlyPath(const ReadOnlyPath &) = delete;
    ReadOnlyPath &operator=(const ReadOnlyPath &) = delete;

    bool isLocked() const { return mLocked; }

private:
    bool setImmutable(bool on) const
    {
#ifndef __linux__
        Q_UNUSED(on)
        return false;
#else
        const int fd = ::open(QFile::encodeName(mPath).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
#endif
    }

    QString mPath;
    QFile::Permissions mPermissions;
    bool mLocked = false;
};

// The control's value as the user sees it: its text, or 1/0 for the check box.
QString shown(const QWidget &dialog, const QString &name)
{
    if (auto *combo = dialog.findChild<QComboBox *>(name))
        return combo->currentText();
    if (auto *check = dialog.findChild<QCheckBox *>(name))
        return check->isChecked() ? "1" : "0";
    return dialog.findChild<QLineEdit *>(name)->text();
}

QLineEdit *edit(const QWidget &dialog, const QString &name)
{
    return dialog.findChild<QLineEdit *>(name);
}

void apply(const QWidget &dialog)
{
    dialog.findChild<QPushButton *>("buttonApply")->click();
}

} // namespace

class TestWidgetSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowAndSpeedList();
    void rows_data();
    void rows();
    void valueApplication_data();
    void valueApplication();
    void applyCreatesTemplateAndStaysOpen();
    void applyWritesEditedValues();
    void applyNormalises_data();
    void applyNormalises();
    void openSettingsDialogApplies();
    void closeWithoutApply_data();
    void closeWithoutApply();
    void applyFailure_data();
    void applyFailure();
    void applyRefusesSeparator_data();
    void applyRefusesSeparator();

private:
    std::unique_ptr<QTemporaryDir> mDir;
    QString mStartDir = QDir::currentPath();
};

void TestWidgetSettings::init()
{
    mDir = std::make_unique<QTemporaryDir>();
    QVERIFY(mDir->isValid());
    QVERIFY(QDir::setCurrent(mDir->path()));
}

void TestWidgetSettings::cleanup()
{
    QDir::setCurrent(mStartDir);
    mDir.reset();
}

void TestWidgetSettings::windowAndSpeedList()
{
    WidgetSettings dialog(settingsName);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Настройки модема"));
    QCOMPARE(dialog.minimumSize(), QSize(400, 300));
    QCOMPARE(dialog.maximumSize(), QSize(400, 300));
    auto *combo = dialog.findChild<QComboBox *>("comboSpeed");
    QVERIFY(combo && !combo->isEditable());
    QStringList speeds;
    for (int i = 0; i < combo->count(); ++i) {
        speeds << combo->itemText(i);
        QCOMPARE(combo->itemData(i), QVariant(combo->itemText(i).toInt()));
    }
    QCOMPARE(speeds, QString("4800 9600 19200 38400 57600 115200").split(' '));
    QCOMPARE(dialog.findChild<QPushButton *>("buttonApply")->text(), QStringLiteral("Применить"));
}

// Each row's label, control and the value shown when there is no file.
void TestWidgetSettings::rows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("value");

    QTest::newRow("speed") << 0 << "Скорость компорта:"
                           << "comboSpeed"
                           << "38400";
    QTest::newRow("address") << 1 << "IP адрес сервера:"
                             << "editDestIp"
                             << "192.168.1.1";
    QTest::newRow("port") << 2 << "TCP порт сервера:"
                          << "editDestPort"
                          << "1234";
    QTest::newRow("apn") << 3 << "Точка входа GPRS (APN):"
                         << "editApn"
                         << "internet";
    QTest::newRow("user") << 4 << "Имя пользователя GPRS:"
                          << "editGprsUser"
                          << "plomk";
    QTest::newRow("password") << 5 << "Пароль GPRS:"
                              << "editGprsPasswd"
                              << "plomk";
    QTest::newRow("pin") << 6 << "PIN-код:"
                         << "editPin"
                         << "4721";
    QTest::newRow("crypt") << 7 << "Шифровать канал связи:"
                           << "checkCrypt"
                           << "0";
}

void TestWidgetSettings::rows()
{
    QFETCH(int, row);
    QFETCH(QString, control);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    QWidget *rowWidget = dialog.layout()->itemAt(row)->widget();
    QVERIFY(rowWidget && rowWidget->layout()->count() == 2);
    auto *labelWidget = qobject_cast<QLabel *>(rowWidget->layout()->itemAt(0)->widget());
    QVERIFY(labelWidget);
    QTEST(labelWidget->text(), "label");
    QCOMPARE(rowWidget->layout()->itemAt(1)->widget()->objectName(), control);
    QTEST(shown(dialog, control), "value");
    if (QLineEdit *lineEdit = edit(dialog, control))
        QCOMPARE(lineEdit->echoMode(), QLineEdit::Normal);
    QVERIFY(closer.seen().isEmpty());
    QVERIFY(!QFile::exists(settingsName));
}

// What a file's lines show, and how many "changed elsewhere" boxes its DEBUG_SER lines raise.
void TestWidgetSettings::valueApplication_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("values"); // crypt|speed|APN|PIN|address
    QTest::addColumn<int>("messages");

    QTest::newRow("listed speed") << QByteArray("SER_SP::115200::d") << "0|115200|||" << 0;
    QTest::newRow("unlisted speed") << QByteArray("SER_SP::14400::d") << "0|4800|||" << 0;
    QTest::newRow("speed with a space") << QByteArray("SER_SP:: 9600::d") << "0|4800|||" << 0;
    QTest::newRow("last APN wins")
        << QByteArray("APN::one::d\r\nAPN::two::d") << "0|4800|two||" << 0;
    QTest::newRow("crypt 1") << QByteArray("CRYPT_DATA::1::d") << "1|4800|||" << 0;
    QTest::newRow("crypt other text") << QByteArray("CRYPT_DATA::yes::d") << "1|4800|||" << 0;
    QTest::newRow("crypt empty") << QByteArray("CRYPT_DATA::::d") << "1|4800|||" << 0;
    QTest::newRow("crypt 0") << QByteArray("CRYPT_DATA::1::d\r\nCRYPT_DATA::0::d") << "0|4800|||"
                             << 0;
    QTest::newRow("empty value is applied")
        << QByteArray("PIN::1::d\r\nPIN::::d") << "0|4800|||" << 0;
    QTest::newRow("value with separator")
        << QByteArray("APN::a::b::d\r\nPIN::7::d") << "0|4800||7|" << 0;
    QTest::newRow("keys other than the nine")
        << QByteArray("apn::x::d\r\n APN::y::d\r\nAPN ::z::d") << "0|4800|||" << 0;
    QTest::newRow("bare LF file") << bytesOf(defaultSettings()).replace("\r\n", "\n") << "0|4800|||"
                                  << 0;
    QTest::newRow("empty file") << QByteArray("") << "0|4800|||" << 0;
    QTest::newRow("trailing CR LF") << QByteArray("APN::net::d\r\n") << "0|4800|net||" << 0;
    QTest::newRow("text ends at NUL")
        << QByteArray("APN::net::d\r\nPIN::12") + '\0' + QByteArray("::d\r\nSER_SP::9600::d")
        << "0|4800|net||" << 0;
    // The last row has two DEBUG_SER lines.
    const QList<QPair<QByteArray, int>> debug{{"0", 0}, {"00", 1}, {" 0", 1},
                                              {"1", 1}, {"", 1},   {"1::d\r\nDEBUG_SER::2", 2}};
    for (const auto &[value, messages] : debug)
        QTest::addRow("DEBUG_SER '%s'", value.left(3).constData())
            << "DEBUG_SER::" + value + "::d\r\nAPN::after::d"
            << "0|4800|after||" << messages;
}

void TestWidgetSettings::valueApplication()
{
    QFETCH(QByteArray, content);
    QFETCH(int, messages);
    writeBytes(settingsName, content);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    QStringList values;
    for (const char *name : {"checkCrypt", "comboSpeed", "editApn", "editPin", "editDestIp"})
        values << shown(dialog, name);
    QTEST(values.join('|'), "values");
    QCOMPARE(closer.seen(), QStringList(QVector<QString>(messages, changedBox).toList()));
}

void TestWidgetSettings::applyCreatesTemplateAndStaysOpen()
{
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    dialog.show();
    apply(dialog);
    const QByteArray first = snapshot(settingsName);
    QCOMPARE(first, bytesOf(defaultSettings()));
    apply(dialog);
    QCOMPARE(snapshot(settingsName), first);
    QCOMPARE(closer.seen(), (QStringList{savedBox, savedBox}));
    QVERIFY(dialog.isVisible());
}

void TestWidgetSettings::applyWritesEditedValues()
{
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    edit(dialog, "editApn")->setText(QStringLiteral(" my apn "));
    edit(dialog, "editPin")->clear();
    dialog.findChild<QCheckBox *>("checkCrypt")->setChecked(true);
    dialog.findChild<QComboBox *>("comboSpeed")->setCurrentIndex(5);
    apply(dialog);

    const QStringList lines = QString::fromUtf8(snapshot(settingsName)).split("\r\n");
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines.at(0), QStringLiteral("CRYPT_DATA::1::Шифровать данные (1 - вкл., 0 - выкл.)"));
    QCOMPARE(lines.at(2), QStringLiteral("PIN::::PIN-код"));
    QCOMPARE(lines.at(3), QStringLiteral("APN:: my apn ::Точка входа GPRS"));
    QCOMPARE(lines.at(8),
             QStringLiteral("SER_SP::115200::Скорость последовательного порта (бит/сек)"));
    QCOMPARE(closer.seen(), QStringList{savedBox});
}

void TestWidgetSettings::applyNormalises_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("boxes");

    const QByteArray modem = QStringLiteral("SER_SP::19200::Скорость\r\n"
                                            "DEST_PORT::80::порт\r\n"
                                            "EXTRA::5::not ours\r\n"
                                            "DEST_IP::10.0.0.1::адрес\r\n"
                                            "GPRS_PASSWD::pw::x\r\n"
                                            "GPRS_USER::user::x\r\n"
                                            "APN::net::x\r\n"
                                            "PIN::0000::x\r\n"
                                            "DEBUG_SER::1::x\r\n"
                                            "CRYPT_DATA::1::x\r\n"
                                            "SER_SP::9600::again\r\n")
                                 .toUtf8();
    const QHash<QString, QString> shown{
        {"CRYPT_DATA", "1"},   {"PIN", "0000"},         {"APN", "net"},      {"GPRS_USER", "user"},
        {"GPRS_PASSWD", "pw"}, {"DEST_IP", "10.0.0.1"}, {"DEST_PORT", "80"}, {"SER_SP", "9600"}};
    QTest::newRow("modem copy: order, descriptions, extra lines, debug on")
        << modem << composeSettings(shown) << QStringList{changedBox, savedBox};

    const QHash<QString, QString> blank{{"PIN", ""},         {"APN", "net"},  {"GPRS_USER", ""},
                                        {"GPRS_PASSWD", ""}, {"DEST_IP", ""}, {"DEST_PORT", ""},
                                        {"SER_SP", "4800"}};
    QTest::newRow("partial file: absent keys written from the empty controls")
        << QByteArray("APN::net::Точка") << composeSettings(blank) << QStringList{savedBox};
}

void TestWidgetSettings::applyNormalises()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, boxes);
    writeBytes(settingsName, content);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    apply(dialog);
    QCOMPARE(snapshot(settingsName), bytesOf(expected));
    QCOMPARE(closer.seen(), boxes);
}

void TestWidgetSettings::openSettingsDialogApplies()
{
    TestSupport::ModalCloser closer;
    bool queued = false;
    bool applied = false;
    // Applies once from inside exec(), then lets the closer reject the dialog.
    closer.setInspector([&queued, &applied](QWidget *modal) {
        if (!qobject_cast<WidgetSettings *>(modal) || applied)
            return true;
        if (!queued) {
            queued = true;
            auto *button = modal->findChild<QPushButton *>("buttonApply");
            QTimer::singleShot(0, button, [button, &applied] {
                button->click();
                applied = true;
            });
        }
        return false;
    });
    openSettingsDialog(settingsName);
    QCOMPARE(snapshot(settingsName), bytesOf(defaultSettings()));
    QCOMPARE(closer.seen(), (QStringList{savedBox, QStringLiteral("Настройки модема|")}));
}

void TestWidgetSettings::closeWithoutApply_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::newRow("no file") << QByteArray();
    QTest::newRow("existing file") << QByteArray("APN::old::d\r\nFOO::1::x\r\n");
}

void TestWidgetSettings::closeWithoutApply()
{
    QFETCH(QByteArray, content);
    if (!content.isNull())
        writeBytes(settingsName, content);
    const QByteArray before = snapshot(settingsName);
    TestSupport::ModalCloser closer;
    closer.setInspector([](QWidget *modal) {
        if (auto *edit = modal->findChild<QLineEdit *>("editApn"))
            edit->setText(QStringLiteral("changed"));
        return true;
    });
    openSettingsDialog(settingsName);
    QCOMPARE(closer.seen(), QStringList{QStringLiteral("Настройки модема|")});
    QCOMPARE(snapshot(settingsName), before);
}

// Apply that cannot save shows the failure, closes the dialog and leaves the path as it was.
void TestWidgetSettings::applyFailure_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("setup");

    const QByteArray old = "APN::old::d";
    const QString locked = QStringLiteral("locked/settings.ini");
    QTest::newRow("directory missing") << "absent/settings.ini" << QByteArray() << "";
    QTest::newRow("name is a directory") << settingsName << QByteArray() << "directory";
    QTest::newRow("read-only file") << settingsName << old << "lock file";
    QTest::newRow("unwritable directory") << locked << QByteArray() << "lock dir";
    QTest::newRow("writable file, unwritable directory") << locked << old << "lock dir";
    QTest::newRow("failing writer, existing file") << settingsName << old << "writer";
    QTest::newRow("failing writer, no file") << settingsName << QByteArray() << "writer";
}

void TestWidgetSettings::applyFailure()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, setup);
    const bool inLocked = fileName.startsWith(QLatin1String("locked/"));
    if (inLocked)
        QVERIFY(QDir().mkdir(QStringLiteral("locked")));
    if (setup == QLatin1String("directory"))
        QVERIFY(QDir().mkdir(fileName));
    if (!content.isNull())
        writeBytes(fileName, content);
    std::unique_ptr<ReadOnlyPath> lock;
    if (setup.startsWith(QLatin1String("lock")))
        lock = std::make_unique<ReadOnlyPath>(inLocked ? QStringLiteral("locked") : fileName);
    if (lock && !lock->isLocked())
        QSKIP("cannot make a path unwritable for root here");
    const QByteArray before = snapshot(fileName);

    TestSupport::ModalCloser closer;
    WidgetSettings dialog(fileName);
    if (setup == QLatin1String("writer"))
        dialog.setLinesWriter([](const QString &, const QStringList &) { return false; });
    dialog.show();
    apply(dialog);
    QCOMPARE(closer.seen(), QStringList{openFailureBox(fileName)});
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(snapshot(fileName), before);
    if (inLocked) // no temporary file left behind
        QCOMPARE(snapshot(QStringLiteral("locked")),
                 QByteArray(content.isNull() ? "<dir >" : "<dir settings.ini>"));
}

void TestWidgetSettings::applyRefusesSeparator_data()
{
    QTest::addColumn<QString>("control");
    for (const char *name :
         {"editDestIp", "editDestPort", "editApn", "editGprsUser", "editGprsPasswd", "editPin"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestWidgetSettings::applyRefusesSeparator()
{
    QFETCH(QString, control);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    dialog.show();
    edit(dialog, control)->setText(QStringLiteral("a::b"));
    apply(dialog);
    QCOMPARE(closer.seen(),
             QStringList{QStringLiteral(
                 "Ошибка|Значения настроек не могут содержать \"::\". Настройки не сохранены")});
    QVERIFY(dialog.isVisible());
    QVERIFY(!QFile::exists(settingsName));

    edit(dialog, control)->setText(QStringLiteral("a:b"));
    apply(dialog);
    QCOMPARE(closer.seen().last(), savedBox);
    QVERIFY(snapshot(settingsName).contains("::a:b::"));
}

QTEST_MAIN(TestWidgetSettings)
#include "tst_widgetsettings.moc"

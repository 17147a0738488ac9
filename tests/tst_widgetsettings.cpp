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
    void defaultsWithoutFile();
    void valueApplication_data();
    void valueApplication();
    void debugSerMessage_data();
    void debugSerMessage();
    void applyCreatesTemplateAndStaysOpen();
    void applyWritesEditedValues();
    void applyNormalises_data();
    void applyNormalises();
    void openSettingsDialogApplies();
    void closeWithoutApply_data();
    void closeWithoutApply();
    void applyOpenFailure_data();
    void applyOpenFailure();
    void applyWriteFailure_data();
    void applyWriteFailure();
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
    const QList<int> speeds{4800, 9600, 19200, 38400, 57600, 115200};
    QCOMPARE(combo->count(), speeds.size());
    for (int i = 0; i < speeds.size(); ++i) {
        QCOMPARE(combo->itemText(i), QString::number(speeds.at(i)));
        QCOMPARE(combo->itemData(i), QVariant(speeds.at(i)));
    }

    QLayout *layout = dialog.layout();
    QCOMPARE(layout->count(), 10); // eight rows, the stretch, the button
    QVERIFY(layout->itemAt(8)->spacerItem());
    auto *button = qobject_cast<QPushButton *>(layout->itemAt(9)->widget());
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("Применить"));
    QCOMPARE(layout->itemAt(9)->alignment(), Qt::Alignment(Qt::AlignRight));
}

void TestWidgetSettings::rows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("control");

    QTest::newRow("speed") << 0 << QStringLiteral("Скорость компорта:") << "comboSpeed";
    QTest::newRow("address") << 1 << QStringLiteral("IP адрес сервера:") << "editDestIp";
    QTest::newRow("port") << 2 << QStringLiteral("TCP порт сервера:") << "editDestPort";
    QTest::newRow("apn") << 3 << QStringLiteral("Точка входа GPRS (APN):") << "editApn";
    QTest::newRow("user") << 4 << QStringLiteral("Имя пользователя GPRS:") << "editGprsUser";
    QTest::newRow("password") << 5 << QStringLiteral("Пароль GPRS:") << "editGprsPasswd";
    QTest::newRow("pin") << 6 << QStringLiteral("PIN-код:") << "editPin";
    QTest::newRow("crypt") << 7 << QStringLiteral("Шифровать канал связи:") << "checkCrypt";
}

void TestWidgetSettings::rows()
{
    QFETCH(int, row);
    QFETCH(QString, label);
    QFETCH(QString, control);
    WidgetSettings dialog(settingsName);
    QWidget *rowWidget = dialog.layout()->itemAt(row)->widget();
    QVERIFY(rowWidget && rowWidget->parent() == &dialog);
    QLayout *rowLayout = rowWidget->layout();
    QCOMPARE(rowLayout->count(), 2);
    auto *labelWidget = qobject_cast<QLabel *>(rowLayout->itemAt(0)->widget());
    QVERIFY(labelWidget);
    QCOMPARE(labelWidget->text(), label);
    QWidget *controlWidget = rowLayout->itemAt(1)->widget();
    QCOMPARE(controlWidget->objectName(), control);
    QCOMPARE(rowLayout->itemAt(1)->alignment(), Qt::Alignment(Qt::AlignRight));
    const int width = control == QLatin1String("checkCrypt") ? QWIDGETSIZE_MAX : 100;
    QCOMPARE(controlWidget->maximumWidth(), width);
    if (auto *edit = qobject_cast<QLineEdit *>(controlWidget))
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
}

void TestWidgetSettings::defaultsWithoutFile()
{
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    QCOMPARE(dialog.findChild<QComboBox *>("comboSpeed")->currentText(), QStringLiteral("38400"));
    QCOMPARE(dialog.findChild<QLineEdit *>("editDestIp")->text(), QStringLiteral("192.168.1.1"));
    QCOMPARE(dialog.findChild<QLineEdit *>("editDestPort")->text(), QStringLiteral("1234"));
    QCOMPARE(dialog.findChild<QLineEdit *>("editApn")->text(), QStringLiteral("internet"));
    QCOMPARE(dialog.findChild<QLineEdit *>("editGprsUser")->text(), QStringLiteral("plomk"));
    QCOMPARE(dialog.findChild<QLineEdit *>("editGprsPasswd")->text(), QStringLiteral("plomk"));
    QCOMPARE(dialog.findChild<QLineEdit *>("editPin")->text(), QStringLiteral("4721"));
    QVERIFY(!dialog.findChild<QCheckBox *>("checkCrypt")->isChecked());
    QVERIFY(closer.seen().isEmpty());
    QVERIFY(!QFile::exists(settingsName));
}

void TestWidgetSettings::valueApplication_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("crypt");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("apn");
    QTest::addColumn<QString>("pin");

    const QString initial = QStringLiteral("4800");
    QTest::newRow("listed speed") << QByteArray("SER_SP::115200::d") << false << "115200"
                                  << ""
                                  << "";
    QTest::newRow("unlisted speed") << QByteArray("SER_SP::14400::d") << false << initial << ""
                                    << "";
    QTest::newRow("speed with a space") << QByteArray("SER_SP:: 9600::d") << false << initial << ""
                                        << "";
    QTest::newRow("last APN wins")
        << QByteArray("APN::one::d\r\nAPN::two::d") << false << initial << "two"
        << "";
    QTest::newRow("crypt 1") << QByteArray("CRYPT_DATA::1::d") << true << initial << ""
                             << "";
    QTest::newRow("crypt other text") << QByteArray("CRYPT_DATA::yes::d") << true << initial << ""
                                      << "";
    QTest::newRow("crypt empty") << QByteArray("CRYPT_DATA::::d") << true << initial << ""
                                 << "";
    QTest::newRow("crypt 0") << QByteArray("CRYPT_DATA::1::d\r\nCRYPT_DATA::0::d") << false
                             << initial << ""
                             << "";
    QTest::newRow("empty value is applied")
        << QByteArray("PIN::1::d\r\nPIN::::d") << false << initial << ""
        << "";
    QTest::newRow("value with separator")
        << QByteArray("APN::a::b::d\r\nPIN::7::d") << false << initial << ""
        << "7";
    QTest::newRow("keys other than the nine")
        << QByteArray("apn::x::d\r\n APN::y::d\r\nAPN ::z::d") << false << initial << ""
        << "";
    QTest::newRow("bare LF file") << bytesOf(defaultSettings()).replace("\r\n", "\n") << false
                                  << initial << ""
                                  << "";
    QTest::newRow("empty file") << QByteArray("") << false << initial << ""
                                << "";
    QTest::newRow("trailing CR LF") << QByteArray("APN::net::d\r\n") << false << initial << "net"
                                    << "";
    QTest::newRow("text ends at NUL")
        << QByteArray("APN::net::d\r\nPIN::12") + '\0' + QByteArray("::d\r\nSER_SP::9600::d")
        << false << initial << "net"
        << "";
}

void TestWidgetSettings::valueApplication()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, crypt);
    QFETCH(QString, speed);
    QFETCH(QString, apn);
    QFETCH(QString, pin);
    writeBytes(settingsName, content);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    QCOMPARE(dialog.findChild<QCheckBox *>("checkCrypt")->isChecked(), crypt);
    QCOMPARE(dialog.findChild<QComboBox *>("comboSpeed")->currentText(), speed);
    QCOMPARE(dialog.findChild<QLineEdit *>("editApn")->text(), apn);
    QCOMPARE(dialog.findChild<QLineEdit *>("editPin")->text(), pin);
    QCOMPARE(dialog.findChild<QLineEdit *>("editDestIp")->text(), QString());
    QVERIFY(closer.seen().isEmpty());
}

void TestWidgetSettings::debugSerMessage_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("messages");

    QTest::newRow("0") << QByteArray("DEBUG_SER::0::d") << 0;
    QTest::newRow("00") << QByteArray("DEBUG_SER::00::d") << 1;
    QTest::newRow("space 0") << QByteArray("DEBUG_SER:: 0::d") << 1;
    QTest::newRow("1") << QByteArray("DEBUG_SER::1::d") << 1;
    QTest::newRow("empty") << QByteArray("DEBUG_SER::::d") << 1;
    QTest::newRow("two lines") << QByteArray("DEBUG_SER::1::d\r\nDEBUG_SER::2::d") << 2;
    QTest::newRow("no line") << QByteArray("PIN::1::d") << 0;
}

void TestWidgetSettings::debugSerMessage()
{
    QFETCH(QByteArray, lines);
    QFETCH(int, messages);
    writeBytes(settingsName, lines + "\r\nAPN::after::d");
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    QCOMPARE(closer.seen(), QStringList(QVector<QString>(messages, changedBox).toList()));
    QCOMPARE(dialog.findChild<QLineEdit *>("editApn")->text(), QStringLiteral("after"));
}

void TestWidgetSettings::applyCreatesTemplateAndStaysOpen()
{
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    dialog.show();
    auto *button = dialog.findChild<QPushButton *>("buttonApply");
    button->click();
    const QByteArray first = snapshot(settingsName);
    QCOMPARE(first, bytesOf(defaultSettings()));
    button->click();
    QCOMPARE(snapshot(settingsName), first);
    QCOMPARE(closer.seen(), (QStringList{savedBox, savedBox}));
    QVERIFY(dialog.isVisible());
}

void TestWidgetSettings::applyWritesEditedValues()
{
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    dialog.findChild<QLineEdit *>("editApn")->setText(QStringLiteral(" my apn "));
    dialog.findChild<QLineEdit *>("editPin")->clear();
    dialog.findChild<QCheckBox *>("checkCrypt")->setChecked(true);
    dialog.findChild<QComboBox *>("comboSpeed")->setCurrentIndex(5);
    dialog.findChild<QPushButton *>("buttonApply")->click();

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
    dialog.findChild<QPushButton *>("buttonApply")->click();
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

void TestWidgetSettings::applyOpenFailure_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("setup");

    QTest::newRow("directory missing") << QStringLiteral("absent/settings.ini") << "";
    QTest::newRow("name is a directory") << settingsName << "directory";
    QTest::newRow("read-only file") << settingsName << "lock file";
    QTest::newRow("unwritable directory") << QStringLiteral("locked/settings.ini") << "lock dir";
}

void TestWidgetSettings::applyOpenFailure()
{
    QFETCH(QString, fileName);
    QFETCH(QString, setup);
    std::unique_ptr<ReadOnlyPath> lock;
    if (setup == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(fileName));
    } else if (setup == QLatin1String("lock file")) {
        writeBytes(fileName, "APN::old::d");
        lock = std::make_unique<ReadOnlyPath>(fileName);
    } else if (setup == QLatin1String("lock dir")) {
        QVERIFY(QDir().mkdir(QStringLiteral("locked")));
        lock = std::make_unique<ReadOnlyPath>(QStringLiteral("locked"));
    }
    if (lock && !lock->isLocked())
        QSKIP("cannot make a path unwritable for root here");
    const QByteArray before = snapshot(fileName);

    TestSupport::ModalCloser closer;
    WidgetSettings dialog(fileName);
    dialog.show();
    dialog.findChild<QPushButton *>("buttonApply")->click();
    QCOMPARE(closer.seen(), QStringList{openFailureBox(fileName)});
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(snapshot(fileName), before);
}

void TestWidgetSettings::applyWriteFailure_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<bool>("lockDir");       // else the writer is replaced by a failing one

    QTest::newRow("failing writer, existing file")
        << settingsName << QByteArray("APN::old::d") << false;
    QTest::newRow("failing writer, no file") << settingsName << QByteArray() << false;
    QTest::newRow("writable file, unwritable directory")
        << QStringLiteral("locked/settings.ini") << QByteArray("APN::old::d") << true;
}

void TestWidgetSettings::applyWriteFailure()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, lockDir);
    if (lockDir)
        QVERIFY(QDir().mkdir(QStringLiteral("locked")));
    if (!content.isNull())
        writeBytes(fileName, content);
    std::unique_ptr<ReadOnlyPath> lock;
    if (lockDir) {
        lock = std::make_unique<ReadOnlyPath>(QStringLiteral("locked"));
        if (!lock->isLocked())
            QSKIP("cannot make a directory unwritable for root here");
    }
    const QByteArray before = snapshot(fileName);

    TestSupport::ModalCloser closer;
    WidgetSettings dialog(fileName);
    if (!lockDir)
        dialog.setLinesWriter([](const QString &, const QStringList &) { return false; });
    dialog.show();
    dialog.findChild<QPushButton *>("buttonApply")->click();
    QCOMPARE(closer.seen(), QStringList{openFailureBox(fileName)});
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(snapshot(fileName), before);
    if (lockDir) // no temporary file left behind
        QCOMPARE(snapshot(QStringLiteral("locked")), QByteArray("<dir settings.ini>"));
}

void TestWidgetSettings::applyRefusesSeparator_data()
{
    QTest::addColumn<QString>("edit");
    for (const char *name :
         {"editDestIp", "editDestPort", "editApn", "editGprsUser", "editGprsPasswd", "editPin"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestWidgetSettings::applyRefusesSeparator()
{
    QFETCH(QString, edit);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(settingsName);
    dialog.show();
    auto *lineEdit = dialog.findChild<QLineEdit *>(edit);
    auto *button = dialog.findChild<QPushButton *>("buttonApply");
    lineEdit->setText(QStringLiteral("a::b"));
    button->click();
    QCOMPARE(closer.seen(),
             QStringList{QStringLiteral(
                 "Ошибка|Значения настроек не могут содержать \"::\". Настройки не сохранены")});
    QVERIFY(dialog.isVisible());
    QVERIFY(!QFile::exists(settingsName));

    lineEdit->setText(QStringLiteral("a:b"));
    button->click();
    QCOMPARE(closer.seen().last(), savedBox);
    QVERIFY(snapshot(settingsName).contains("::a:b::"));
}

QTEST_MAIN(TestWidgetSettings)
#include "tst_widgetsettings.moc"

#include "modalcloser.h"
#include "protocol/tooltexts.h"
#include "settings/settingsfile.h"
#include "settings/widgetsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString savedBox = "Информация|Настройки сохранены";
const QString changedBox = "Ошибка|Файл настроек изменен иным способом!";
const QString separatorBox =
    "Ошибка|Значения настроек не могут содержать \"::\". Настройки не сохранены";
const QString controlBox = "Ошибка|Значения настроек не могут содержать переводы строк и другие "
                           "управляющие символы. Настройки не сохранены";

// What a path holds, to show that a refused or failed Apply changed nothing.
QByteArray snapshot(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// The property that holds a control's value as the user sees it.
const char *valueOf(const QObject *control)
{
    return control->inherits("QComboBox")   ? "currentText"
           : control->inherits("QCheckBox") ? "checked"
                                            : "text";
}

} // namespace

class TestWidgetSettings : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(QDir().mkpath(mCaseDir = mDir.filePath(QString::number(++mCase)))); }
    void layout();
    void dialog_data();
    void dialog();

private:
    QTemporaryDir mDir;
    QString mCaseDir; // a fresh folder for every case
    int mCase = 0;
};

// What an operator sees: a dialog of fixed size, eight rows of a label with its control
// on the right, the button at the bottom right, their texts in order and the speeds offered.
void TestWidgetSettings::layout()
{
    WidgetSettings dialog(mCaseDir + "/settings.ini");
    auto *layout = qobject_cast<QBoxLayout *>(dialog.layout());
    QVERIFY(dialog.minimumSize() == QSize(400, 300) && dialog.maximumSize() == QSize(400, 300));
    QStringList texts; // the labels and the button
    for (int i = 0; i < 8; ++i) {
        const QLayout *row = layout->itemAt(i)->widget()->layout();
        texts << qobject_cast<QLabel *>(row->itemAt(0)->widget())->text();
        QCOMPARE(row->itemAt(1)->alignment(), Qt::AlignRight);
    }
    QVERIFY(layout->itemAt(8)->spacerItem());
    QCOMPARE(layout->itemAt(9)->alignment(), Qt::AlignRight);
    texts << qobject_cast<QPushButton *>(layout->itemAt(9)->widget())->text();
    QCOMPARE(texts.join('|'), QString("Скорость компорта:|IP адрес сервера:|TCP порт сервера:|"
                                      "Точка входа GPRS (APN):|Имя пользователя GPRS:|Пароль GPRS:|"
                                      "PIN-код:|Шифровать канал связи:|Применить"));
    auto *combo = dialog.findChild<QComboBox *>("comboSpeed");
    QStringList speeds;
    for (int i = 0; i < combo->count(); ++i)
        speeds << combo->itemText(i);
    QCOMPARE(speeds.join(' '), QString("4800 9600 19200 38400 57600 115200"));
}

// The dialog runs modally and shows a file's values (crypt|speed|APN|PIN|address), with a
// "changed elsewhere" box for each DEBUG_SER line that is not "0"; closed without Apply it
// writes nothing, even after an edit. "Применить" rewrites the whole file from the template
// with the controls' values and keeps the dialog open; a value holding "::" or a control
// character is refused and nothing written. An Apply that cannot save says so, closes the
// dialog and leaves the path as it was: no empty file is left where there was none.
void TestWidgetSettings::dialog_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file
    QTest::addColumn<QString>("values");      // null: Apply is clicked after the edits
    QTest::addColumn<QStringList>("edits");   // control name, value, ...
    QTest::addColumn<QByteArray>("expected"); // the file afterwards
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("writerFails");
    const auto shown = [](const char *name, const QByteArray &content, const QString &values,
                          int boxes = 0) {
        QTest::newRow(name) << content << values << QStringList{"editApn", "changed"}
                            << (content.isNull() ? "<none>" : content)
                            << QStringList(QVector<QString>(boxes, changedBox).toList())
                            << QString("settings.ini") << false;
    };
    // The template with these values, given as "KEY=value|KEY=value".
    const auto text = [](const QString &values) {
        QHash<QString, QString> hash;
        for (const QString &pair : values.split('|'))
            hash.insert(pair.section('=', 0, 0), pair.section('=', 1));
        return composeSettings(hash).join("\r\n").toUtf8();
    };
    const auto row = [](const char *name, const QByteArray &content, const QStringList &edits,
                        const QByteArray &expected, const QStringList &boxes = {savedBox},
                        const QString &path = "settings.ini", bool writerFails = false) {
        QTest::newRow(name) << content << QString() << edits << expected << boxes << path
                            << writerFails;
    };
    shown("no file: the template", QByteArray(), "false|38400|internet|4721|192.168.1.1");
    shown("empty file", "", "false|4800|||");
    shown("listed speed", "SER_SP::115200::d", "false|115200|||");
    shown("the last speed wins, even the first listed", "SER_SP::9600::d\r\nSER_SP::4800::d",
          "false|4800|||");
    shown("unlisted speed", "SER_SP::14400::d", "false|4800|||");
    shown("speed with a space", "SER_SP:: 9600::d", "false|4800|||");
    shown("last APN wins", "APN::one::d\r\nAPN::two::d", "false|4800|two||");
    shown("crypt other text", "CRYPT_DATA::yes::d", "true|4800|||");
    shown("crypt 0 last", "CRYPT_DATA::1::d\r\nCRYPT_DATA::0::d", "false|4800|||");
    shown("empty value is applied", "PIN::1::d\r\nPIN::::d", "false|4800|||");
    shown("keys other than the nine", "apn::x::d\r\n APN::y::d\r\nAPN ::z::d", "false|4800|||");
    shown("DEBUG_SER 0", "DEBUG_SER::0::d\r\nAPN::after::d", "false|4800|after||");
    for (const char *value : {"00", " 0", "1", ""})
        shown(qPrintable(QString("DEBUG_SER '%1'").arg(value)),
              "DEBUG_SER::" + QByteArray(value) + "::d\r\nAPN::after::d", "false|4800|after||", 1);
    shown("two DEBUG_SER", "DEBUG_SER::1::d\r\nDEBUG_SER::2::d", "false|4800|||", 2);
    row("apply, no file: the template", QByteArray(), {}, defaultSettings().join("\r\n").toUtf8());
    row("edited values", QByteArray(),
        {"editApn", " my apn ", "editPin", "", "checkCrypt", "1", "comboSpeed", "115200",
         "editGprsUser", "a:b ~"},
        text("APN= my apn |PIN=|CRYPT_DATA=1|SER_SP=115200|GPRS_USER=a:b ~"));
    row("partial file: absent keys from the empty controls", "APN::net::Точка", {},
        text("PIN=|APN=net|GPRS_USER=|GPRS_PASSWD=|DEST_IP=|DEST_PORT=|SER_SP=4800"));
    row("modem copy: order, descriptions, extra lines, debug on",
        "SER_SP::19200::x\r\nDEST_PORT::80::x\r\nEXTRA::5::x\r\nDEST_IP::1.2.3.4::x\r\n"
        "GPRS_PASSWD::pw::x\r\nGPRS_USER::u::x\r\nAPN::net::x\r\nPIN::0000::x\r\n"
        "DEBUG_SER::1::x\r\nCRYPT_DATA::1::x\r\nSER_SP::9600::x",
        {},
        text("CRYPT_DATA=1|PIN=0000|APN=net|GPRS_USER=u|GPRS_PASSWD=pw|DEST_IP=1.2.3.4|"
             "DEST_PORT=80|SER_SP=9600"),
        {changedBox, savedBox});
    row("'::'", "old", {"editGprsPasswd", "a::b"}, "old", {separatorBox});
    row("'::' is judged first", "old", {"editApn", "a::b\n"}, "old", {separatorBox});
    row("CR LF", "old", {"editApn", "internet\r\nDEST_IP"}, "old", {controlBox});
    row("bare LF", "old", {"editPin", "12\n"}, "old", {controlBox});
    row("tab", "old", {"editDestIp", "1.2.3.4\t"}, "old", {controlBox});
    row("unit separator", "old", {"editGprsPasswd", "a\x1f"}, "old", {controlBox});
    row("DEL", "old", {"editDestPort", "80\x7f"}, "old", {controlBox});
    const QStringList failed{"Ошибка|Не удалось открыть файл %1 и сохранить настройки"};
    row("folder missing", QByteArray(), {}, "<none>", failed, "absent/settings.ini");
    row("name is a folder", QByteArray(), {}, "<none>", failed, "folder");
    row("failing write, old file", "APN::old::d", {}, "APN::old::d", failed, "settings.ini", true);
    row("failing write, no file", QByteArray(), {}, "<none>", failed, "settings.ini", true);
}

void TestWidgetSettings::dialog()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, edits);
    QFETCH(QStringList, boxes);
    QFETCH(QString, path);
    QFETCH(bool, writerFails);
    QFETCH(QString, values);
    const QString fileName = mCaseDir + "/" + path;
    QVERIFY(path != "folder" || QDir(mCaseDir).mkdir(path));
    if (!content.isNull())
        writeBytes(fileName, content);
    TestSupport::ModalCloser closer;
    QStringList shown;
    bool applied = false;
    closer.setInspector([&](QWidget *modal) {
        if (!qobject_cast<WidgetSettings *>(modal))
            return true;
        // The dialog is closed only once Apply has run, however slow the platform.
        if (!shown.isEmpty())
            return applied || !values.isNull();
        for (const char *name : {"checkCrypt", "comboSpeed", "editApn", "editPin", "editDestIp"}) {
            const QWidget *control = modal->findChild<QWidget *>(name);
            shown << control->property(valueOf(control)).toString();
        }
        if (writerFails)
            static_cast<WidgetSettings *>(modal)->setLinesWriter(
                [](const QString &, const QStringList &) { return false; });
        for (int i = 0; i + 1 < edits.size(); i += 2) {
            QWidget *control = modal->findChild<QWidget *>(edits.at(i));
            control->setProperty(valueOf(control), edits.at(i + 1));
        }
        if (values.isNull()) { // Apply runs outside the closer; a later tick closes the dialog
            QPushButton *apply = modal->findChild<QPushButton *>("buttonApply");
            QMetaObject::invokeMethod(
                apply,
                [apply, &applied] {
                    apply->click();
                    applied = true;
                },
                Qt::QueuedConnection);
        }
        return !values.isNull();
    });
    openSettingsDialog(fileName);
    QCOMPARE(shown.size(), 5);
    QVERIFY(values.isNull() || shown.join('|') == values);
    QTEST(snapshot(fileName), "expected");
    // The dialog is still open for the closer unless a failed Apply closed it.
    if (!boxes.value(0).startsWith("Ошибка|Не удалось"))
        boxes << ToolText::settingsTitle() + QLatin1Char('|');
    QCOMPARE(closer.seen(), boxes.replaceInStrings("%1", fileName));
}

QTEST_MAIN(TestWidgetSettings)
#include "tst_widgetsettings.moc"

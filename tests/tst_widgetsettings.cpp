#include "settings/settingsfile.h"
#include "settings/widgetsettings.h"
#include "testsupport.h"

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

// The control's value as the user sees it: its text, or 1/0 for the check box.
QString shown(const QWidget &dialog, const QString &name)
{
    if (auto *combo = dialog.findChild<QComboBox *>(name))
        return combo->currentText();
    if (auto *check = dialog.findChild<QCheckBox *>(name))
        return check->isChecked() ? "1" : "0";
    return dialog.findChild<QLineEdit *>(name)->text();
}

} // namespace

class TestWidgetSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void layout();
    void shownValues_data();
    void shownValues();
    void apply_data();
    void apply();
    void failedApply_data();
    void failedApply();

private:
    QTemporaryDir mDir;
    QString mCaseDir; // a fresh folder for every case
    QString mFile;
    int mCase = 0;
};

void TestWidgetSettings::init()
{
    mCaseDir = mDir.filePath(QString::number(++mCase));
    QVERIFY(QDir().mkpath(mCaseDir));
    mFile = mCaseDir + "/settings.ini";
}

// Eight rows of a label and a control 100 px wide on the right, then a stretch and the
// button, in a fixed 400 x 300 dialog with 10 px margins and gaps.
void TestWidgetSettings::layout()
{
    WidgetSettings dialog(mFile);
    auto *layout = qobject_cast<QBoxLayout *>(dialog.layout());
    QVERIFY(dialog.minimumSize() == QSize(400, 300) && dialog.maximumSize() == QSize(400, 300));
    QVERIFY(layout->contentsMargins() == QMargins(10, 10, 10, 10) && layout->spacing() == 10);
    const QStringList rows{"comboSpeed:Скорость компорта:",
                           "editDestIp:IP адрес сервера:",
                           "editDestPort:TCP порт сервера:",
                           "editApn:Точка входа GPRS (APN):",
                           "editGprsUser:Имя пользователя GPRS:",
                           "editGprsPasswd:Пароль GPRS:",
                           "editPin:PIN-код:",
                           "checkCrypt:Шифровать канал связи:"};
    for (int i = 0; i < rows.size(); ++i) {
        const QLayout *row = layout->itemAt(i)->widget()->layout();
        QVERIFY(row->contentsMargins().isNull() && row->spacing() == 10 && row->count() == 2);
        QCOMPARE(qobject_cast<QLabel *>(row->itemAt(0)->widget())->text(), rows[i].section(':', 1));
        const QWidget *control = row->itemAt(1)->widget();
        QCOMPARE(control->objectName(), rows[i].section(':', 0, 0));
        QVERIFY(row->itemAt(1)->alignment() == Qt::AlignRight && layout->stretch(i) == 0);
        QVERIFY(i == 7 || (control->minimumWidth() == 100 && control->maximumWidth() == 100));
    }
    QVERIFY(layout->itemAt(8)->spacerItem() && layout->stretch(8) == 0 && layout->stretch(9) == 0);
    QCOMPARE(layout->itemAt(9)->alignment(), Qt::AlignRight);
    QCOMPARE(qobject_cast<QPushButton *>(layout->itemAt(9)->widget())->text(),
             QString("Применить"));
    auto *combo = dialog.findChild<QComboBox *>("comboSpeed");
    QStringList speeds;
    for (int i = 0; i < combo->count(); ++i)
        speeds << combo->itemText(i);
    QCOMPARE(speeds.join(' '), QString("4800 9600 19200 38400 57600 115200"));
}

// What a file's lines show, and how many "changed elsewhere" boxes its DEBUG_SER lines raise.
void TestWidgetSettings::shownValues_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("values");     // crypt|speed|APN|PIN|address
    QTest::addColumn<int>("boxes");
    const auto row = [](const char *name, const QByteArray &content, const QString &values,
                        int boxes = 0) { QTest::newRow(name) << content << values << boxes; };
    row("no file: the template", QByteArray(), "0|38400|internet|4721|192.168.1.1");
    row("empty file", "", "0|4800|||");
    row("listed speed", "SER_SP::115200::d", "0|115200|||");
    row("the last speed wins, even the first listed", "SER_SP::9600::d\r\nSER_SP::4800::d",
        "0|4800|||");
    row("unlisted speed", "SER_SP::14400::d", "0|4800|||");
    row("speed with a space", "SER_SP:: 9600::d", "0|4800|||");
    row("last APN wins", "APN::one::d\r\nAPN::two::d", "0|4800|two||");
    row("crypt other text", "CRYPT_DATA::yes::d", "1|4800|||");
    row("crypt 0 last", "CRYPT_DATA::1::d\r\nCRYPT_DATA::0::d", "0|4800|||");
    row("empty value is applied", "PIN::1::d\r\nPIN::::d", "0|4800|||");
    row("keys other than the nine", "apn::x::d\r\n APN::y::d\r\nAPN ::z::d", "0|4800|||");
    row("DEBUG_SER 0", "DEBUG_SER::0::d\r\nAPN::after::d", "0|4800|after||");
    for (const char *value : {"00", " 0", "1", ""})
        QTest::addRow("DEBUG_SER '%s'", value)
            << "DEBUG_SER::" + QByteArray(value) + "::d\r\nAPN::after::d"
            << "0|4800|after||" << 1;
    row("two DEBUG_SER", "DEBUG_SER::1::d\r\nDEBUG_SER::2::d", "0|4800|||", 2);
}

// The dialog runs modally; closed without Apply it writes nothing, even after an edit.
void TestWidgetSettings::shownValues()
{
    QFETCH(QByteArray, content);
    QFETCH(int, boxes);
    if (!content.isNull())
        writeBytes(mFile, content);
    const QByteArray before = snapshot(mFile);
    TestSupport::ModalCloser closer;
    QStringList values;
    closer.setInspector([&values](QWidget *modal) {
        if (!qobject_cast<WidgetSettings *>(modal))
            return true;
        for (const char *name : {"checkCrypt", "comboSpeed", "editApn", "editPin", "editDestIp"})
            values << shown(*modal, name);
        modal->findChild<QLineEdit *>("editApn")->setText("changed");
        return true;
    });
    openSettingsDialog(mFile);
    QTEST(values.join('|'), "values");
    QCOMPARE(closer.seen(), QVector<QString>(boxes, changedBox).toList() << "Настройки модема|");
    QCOMPARE(snapshot(mFile), before);
}

// "Применить" rewrites the whole file from the template with the controls' values and keeps
// the dialog open; a value holding "::" or a control character is refused and nothing written.
void TestWidgetSettings::apply_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file
    QTest::addColumn<QStringList>("edits");   // control name, value, ...
    QTest::addColumn<QByteArray>("expected"); // the file afterwards
    QTest::addColumn<QStringList>("boxes");
    // The template with these values, given as "KEY=value|KEY=value".
    const auto text = [](const QString &values) {
        QHash<QString, QString> hash;
        for (const QString &pair : values.split('|'))
            hash.insert(pair.section('=', 0, 0), pair.section('=', 1));
        return composeSettings(hash).join("\r\n").toUtf8();
    };
    const auto row = [](const char *name, const QByteArray &content, const QStringList &edits,
                        const QByteArray &expected, const QStringList &boxes = {savedBox}) {
        QTest::newRow(name) << content << edits << expected << boxes;
    };
    row("no file: the template", QByteArray(), {}, defaultSettings().join("\r\n").toUtf8());
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
}

void TestWidgetSettings::apply()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, edits);
    if (!content.isNull())
        writeBytes(mFile, content);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(mFile);
    dialog.show();
    for (int i = 0; i + 1 < edits.size(); i += 2) {
        if (auto *edit = dialog.findChild<QLineEdit *>(edits.at(i)))
            edit->setText(edits.at(i + 1));
        else if (auto *combo = dialog.findChild<QComboBox *>(edits.at(i)))
            combo->setCurrentText(edits.at(i + 1));
        else
            dialog.findChild<QCheckBox *>(edits.at(i))->setChecked(edits.at(i + 1) == "1");
    }
    dialog.findChild<QPushButton *>("buttonApply")->click();
    QTEST(snapshot(mFile), "expected");
    QTEST(closer.seen(), "boxes");
    QVERIFY(dialog.isVisible());
}

// An Apply that cannot save says so, closes the dialog and leaves the path as it was: no
// empty file is left where there was none.
void TestWidgetSettings::failedApply_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<bool>("failingWriter");
    QTest::newRow("folder missing") << "absent/settings.ini" << QByteArray() << false;
    QTest::newRow("name is a folder") << "folder" << QByteArray() << false;
    QTest::newRow("failing write, old file") << "settings.ini" << QByteArray("APN::old::d") << true;
    QTest::newRow("failing write, no file") << "settings.ini" << QByteArray() << true;
}

void TestWidgetSettings::failedApply()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(bool, failingWriter);
    const QString fileName = mCaseDir + "/" + path;
    QVERIFY(path != "folder" || QDir(mCaseDir).mkdir(path));
    if (!content.isNull())
        writeBytes(fileName, content);
    const QByteArray before = snapshot(fileName);
    TestSupport::ModalCloser closer;
    WidgetSettings dialog(fileName);
    if (failingWriter)
        dialog.setLinesWriter([](const QString &, const QStringList &) { return false; });
    dialog.show();
    dialog.findChild<QPushButton *>("buttonApply")->click();
    QCOMPARE(closer.seen(),
             QStringList{"Ошибка|Не удалось открыть файл " + fileName + " и сохранить настройки"});
    QVERIFY(!dialog.isVisible() && dialog.result() == QDialog::Accepted);
    QCOMPARE(snapshot(fileName), before);
}

QTEST_MAIN(TestWidgetSettings)
#include "tst_widgetsettings.moc"

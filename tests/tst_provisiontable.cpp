#include "line/provisiontable.h"
#include "modalcloser.h"
#include "settings/settingsfile.h"
#include "settings/widgetsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString imei1 = "356938035643809";
const QString imei2 = "490154203237518";

// A row as "line|imei|KEY=value|...", the keys in order.
QString describe(const ProvisionTable::Row &row)
{
    QStringList pieces{QString::number(row.line), row.imei};
    QStringList keys = row.values.keys();
    keys.sort();
    for (const QString &key : keys)
        pieces << key + "=" + row.values.value(key);
    return pieces.join('|');
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// The bytes a file holds; "<none>" when there is none.
QByteArray snapshot(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// A one-row table of the given "KEY", "value", ... pairs, every cell quoted as Excel may.
QByteArray oneRowTable(const QStringList &pairs)
{
    QStringList header;
    QStringList cells;
    for (int i = 0; i + 1 < pairs.size(); i += 2) {
        header << pairs.at(i);
        cells << "\"" + QString(pairs.at(i + 1)).replace("\"", "\"\"") + "\"";
    }
    return (header.join(';') + "\r\n" + cells.join(';') + "\r\n").toUtf8();
}

// The dialog's line edits by the key they set.
const QHash<QString, QString> controlOfKey{{"PIN", "editPin"},
                                           {"APN", "editApn"},
                                           {"GPRS_USER", "editGprsUser"},
                                           {"GPRS_PASSWD", "editGprsPasswd"},
                                           {"DEST_IP", "editDestIp"},
                                           {"DEST_PORT", "editDestPort"}};

} // namespace

class TestProvisionTable : public QObject
{
    Q_OBJECT

private slots:
    void excel_data();
    void excel();
    void refusals_data();
    void refusals();
    void files_data();
    void files();
    void asTheDialogWrites_data();
    void asTheDialogWrites();

private:
    QTemporaryDir mDir;
    int mCase = 0; // a base file of its own for every case
};

// Tables as Excel's "CSV UTF-8" saves them: blanks around the header's names are
// dropped, values are kept as they are (blanks, ";" and quotes inside quotes), an
// IMEI is trimmed, an empty cell sets nothing, a short row lacks its last cells.
void TestProvisionTable::excel_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("BOM, CR LF, quotes, Cyrillic")
        << QByteArray("\xEF\xBB\xBF IMEI ; PIN;APN;GPRS_PASSWD;SER_SP\r\n") +
               (imei1 +
                ";1234;internet.mts.ru;\"a;b \"\"c\"\"\";115200\r\n"
                ";;\"интернет\";пароль ;\r\n"
                " " +
                imei2 + " ;0000;;;9600\r\n")
                   .toUtf8()
        << QStringList{"2|" + imei1 +
                           "|APN=internet.mts.ru|GPRS_PASSWD=a;b \"c\"|PIN=1234|"
                           "SER_SP=115200",
                       "3||APN=интернет|GPRS_PASSWD=пароль ",
                       "4|" + imei2 + "|PIN=0000|SER_SP=9600"};
    QTest::newRow("no BOM, LF, no final line break, a short row")
        << QByteArray("APN;DEST_IP;DEST_PORT;CRYPT_DATA;GPRS_USER\n"
                      "m2m;10.0.0.1;5000;1;\n"
                      "\"\";;;0; u 1\"2 \n"
                      "m2m.beeline")
        << QStringList{"2||APN=m2m|CRYPT_DATA=1|DEST_IP=10.0.0.1|DEST_PORT=5000",
                       "3||CRYPT_DATA=0|GPRS_USER= u 1\"2 ", "4||APN=m2m.beeline"};
}

void TestProvisionTable::excel()
{
    QFETCH(QByteArray, bytes);
    ProvisionTable table;
    QString error;
    QVERIFY2(table.parse(bytes, "t.csv", defaultSettings(), &error), qPrintable(error));
    QStringList rows;
    for (const ProvisionTable::Row &row : table.rows())
        rows << describe(row);
    QTEST(rows, "rows");
    QCOMPARE(table.fileName(), QString("t.csv"));
}

// Every fault refuses the whole table, even one read well before, and is named with
// its line; "" marks a table that is right.
void TestProvisionTable::refusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("fault");
    const auto row = [](const char *name, const QByteArray &bytes, const QString &fault) {
        QTest::newRow(name) << bytes << fault;
    };
    const QByteArray head = "PIN;APN;IMEI\r\n";
    const int room =
        maxSettingsFileBytes - composeSettings({{"APN", ""}}).join("\r\n").toUtf8().size();
    const QByteArray fits = head + ";" + QByteArray(room, 'x') + "\r\n";
    const QByteArray utf8 = "строка 3: текст не в кодировке UTF-8; сохраните таблицу в Excel как "
                            "«CSV UTF-8»";
    row("cp1251", head + "1;a\r\n1;\xCF\xC8\xCD\r\n", utf8);
    row("overlong UTF-8", "PIN\n1\n\xC0\xAF\n", utf8);
    row("UTF-8 cut short", "PIN\n1\n1\xD0", utf8);
    row("empty file", "", "t.csv, строка 1: файл пуст");
    row("only a BOM", "\xEF\xBB\xBF", "строка 1: файл пуст");
    row("empty first line", "\r\nPIN\r\n1\r\n", "строка 1: первая строка пуста");
    row("unknown column, names are case-sensitive", "PIN;Apn\n1;a\n",
        "строка 1: неизвестный столбец «Apn»; столбцы могут называться так: PIN, APN, GPRS_USER, "
        "GPRS_PASSWD, DEST_IP, DEST_PORT, CRYPT_DATA, SER_SP, IMEI");
    row("DEBUG_SER", "PIN;DEBUG_SER\n1;1\n", "строка 1: столбец DEBUG_SER таблицей не задаётся");
    row("commas between fields", "PIN,APN\n1,a\n", "строка 1: в заголовке запятая или табуляция");
    row("repeated column", "PIN; APN ;APN\n1;a;b\n", "строка 1: столбец «APN» повторяется");
    row("repeated IMEI column", "IMEI;PIN;IMEI\n", "строка 1: столбец «IMEI» повторяется");
    row("nameless column", "PIN;;APN\n1;;a\n", "строка 1: у столбца 2 нет имени");
    row("no settable column", ("IMEI\n" + imei1 + "\n").toUtf8(),
        "строка 1: в заголовке нет ни одного столбца настроек");
    row("header only", head, "строка 2: под заголовком нет ни одной строки");
    row("more fields than columns", head + "1;a;\r\n1;a;;\r\n", "строка 3: значений (4) больше");
    row("line break inside quotes", head + "1;\"a\r\nb\";\r\n", "строка 2: кавычка не закрыта");
    row("unclosed quote at the end", head + "1;\"a", "строка 2: кавычка не закрыта");
    row("text after the closing quote", head + "\"12\"3;a\r\n", "строка 2: после закрывающей");
    row("'::'", head + "1;a\r\n1;a::b\r\n", "строка 3: значение столбца APN содержит «::»");
    row("ends with ':'", head + "1:;a\r\n",
        "строка 2: значение столбца PIN оканчивается двоеточием");
    row("tab", head + "1;\"a\tb\"\r\n", "строка 2: значение столбца APN содержит управляющий");
    row("zero byte", head + QByteArray("1;a\0b", 5), "строка 2: значение столбца APN содержит упр");
    row("CR inside", head + "1\r2;a\r\n", "строка 2: значение столбца PIN содержит управляющий");
    row("crypt other than 0 or 1", "CRYPT_DATA\nyes\n",
        "строка 2: значение столбца CRYPT_DATA «yes»");
    row("unlisted speed", "SER_SP\n14400\n", "строка 2: значение столбца SER_SP «14400»: должна");
    row("IMEI as Excel's number", head + "1;a;3,56938E+14\r\n",
        "строка 2: IMEI «3,56938E+14» сохранён Excel как число и его цифры потеряны: задайте "
        "столбцу IMEI текстовый формат");
    row("IMEI as a number, dot", head + "1;a;3.56938e+14\r\n", "текстовый формат");
    row("IMEI of 14 digits", head + "1;a;35693803564380\r\n",
        "строка 2: IMEI «35693803564380» должен состоять из 15 цифр");
    row("IMEI with a letter", head + "1;a;35693803564380A\r\n", "должен состоять из 15 цифр");
    row("IMEI check digit", head + "1;a;356938035643808\r\n",
        "строка 2: в IMEI 356938035643808 "
        "неверна контрольная");
    row("same IMEI twice",
        head + ("1;a;" + imei1 + "\r\n2;b;" + imei2 + "\r\n3;c; " + imei1 + "\r\n").toUtf8(),
        "строка 4: IMEI " + imei1 + " уже есть в строке 2");
    row("IMEI alone", head + ("1;;\r\n;;" + imei1 + "\r\n").toUtf8(),
        "строка 3: в строке не задано ни одно значение");
    row("empty cells only", head + ";;\r\n", "строка 2: в строке не задано");
    row("empty line between rows", head + "1\r\n\r\n2\r\n", "строка 3: в строке не задано");
    row("two line breaks at the end", head + "1\r\n\r\n", "строка 3: в строке не задано");
    row("longest row", fits, "");
    row("a byte too long", head + ";x" + fits.mid(head.size() + 1),
        QString("строка 2: значения слишком длинные: файл настроек занял бы 16385 байт"));
    row("blank values, IMEI cells empty, a quote inside a field", head + " ;1\"2\r\n1; ;\r\n", "");
}

void TestProvisionTable::refusals()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, fault);
    ProvisionTable table;
    QString error;
    QVERIFY(table.parse("PIN\n1\n", "t.csv", defaultSettings(), &error));
    const bool loaded = table.parse(bytes, "t.csv", defaultSettings(), &error);
    QCOMPARE(loaded, fault.isEmpty());
    if (loaded)
        return;
    QVERIFY2(error.startsWith("Таблица настроек t.csv, строка ") && error.contains(fault),
             qPrintable(error));
    QVERIFY(table.rows().isEmpty());
}

// A file that is no table is refused with a sentence that says what to do.
void TestProvisionTable::files_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fault");
    QVERIFY(QDir(mDir.path()).mkpath("folder.csv"));
    writeBytes(mDir.filePath("good.csv"), "APN\r\nm2m\r\n");
    QFile large(mDir.filePath("large.csv"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(16 * 1024 * 1024 + 1));
    writeBytes(mDir.filePath("locked.csv"), "APN\r\nm2m\r\n");
    QVERIFY(QFile::setPermissions(mDir.filePath("locked.csv"), QFileDevice::WriteOwner));
    QTest::newRow("good") << "good.csv"
                          << "";
    QTest::newRow("missing") << "missing.csv"
                             << "missing.csv: файл не найден";
    QTest::newRow("folder") << "folder.csv"
                            << "folder.csv: это не файл";
    QTest::newRow("over 16 MB") << "large.csv"
                                << "large.csv: файл больше 16 МБ";
    QTest::newRow("no right to read") << "locked.csv"
                                      << "Таблица настроек не прочитана: нет прав на чтение";
}

void TestProvisionTable::files()
{
    QFETCH(QString, name);
    QFETCH(QString, fault);
    const QString path = mDir.filePath(name);
    if (name == "locked.csv" && QFile(path).open(QIODevice::ReadOnly))
        QSKIP("the file is readable all the same (run as root)");
    ProvisionTable table;
    QString error;
    QCOMPARE(table.load(path, defaultSettings(), &error), fault.isEmpty());
    QVERIFY2(error.contains(fault), qPrintable(error));
    QCOMPARE(table.rows().size(), fault.isEmpty() ? 1 : 0);
    QCOMPARE(table.fileName(), path);
}

// What a row's settings file holds is byte for byte what the settings dialog writes
// when opened on the base file with the row's values entered.
void TestProvisionTable::asTheDialogWrites_data()
{
    QTest::addColumn<QByteArray>("base"); // null: no base file
    QTest::addColumn<QStringList>("values");
    const QByteArray full =
        "PIN::0000::d\r\nAPN::base::d\r\nGPRS_USER::bu::d\r\nDEST_PORT::80::d\r\n"
        "SER_SP::9600::d\r\nCRYPT_DATA::1::d";
    QTest::newRow("every key") << full
                               << QString(
                                      "PIN|9999|APN|интернет|GPRS_USER|u;s|GPRS_PASSWD|p\"w |"
                                      "DEST_IP|1.2.3.4|DEST_PORT|8080|CRYPT_DATA|0|SER_SP|115200")
                                      .split('|');
    QTest::newRow("one key over the base") << full << QStringList{"DEST_IP", "10.0.0.1"};
    QTest::newRow("unlisted speed, crypt 'yes', keys missing")
        << QByteArray("SER_SP::14400::d\r\nCRYPT_DATA::yes::d\r\nAPN::base.apn::d")
        << QStringList{"PIN", "1111"};
    QTest::newRow("speed over an unlisted one")
        << QByteArray("SER_SP::14400::d") << QStringList{"SER_SP", "19200"};
    QTest::newRow("DEBUG_SER on, other lines, a key twice")
        << QByteArray("DEBUG_SER::1::x\r\nEXTRA::5::x\r\nPIN::1::x\r\nPIN::2::x")
        << QStringList{"DEST_PORT", "1"};
    QTest::newRow("no base: the template") << QByteArray() << QStringList{"APN", "m2m"};
}

void TestProvisionTable::asTheDialogWrites()
{
    QFETCH(QByteArray, base);
    QFETCH(QStringList, values);
    const QString path = mDir.filePath(QString("settings-%1.ini").arg(++mCase));
    if (!base.isNull())
        writeBytes(path, base);
    ProvisionTable table;
    QString error;
    QVERIFY2(table.parse(oneRowTable(values), "t.csv", readSettingsLines(path), &error),
             qPrintable(error));
    QCOMPARE(table.rows().size(), 1);
    const QByteArray expected = table.settingsFor(table.rows().constFirst());

    TestSupport::ModalCloser closer;
    bool entered = false;
    bool applied = false;
    closer.setInspector([&](QWidget *modal) {
        if (!qobject_cast<WidgetSettings *>(modal))
            return true;
        if (entered)
            return applied;
        for (int i = 0; i + 1 < values.size(); i += 2) {
            const QString key = values.at(i);
            const QString name = key == "SER_SP"       ? "comboSpeed"
                                 : key == "CRYPT_DATA" ? "checkCrypt"
                                                       : controlOfKey.value(key);
            QWidget *control = modal->findChild<QWidget *>(name);
            if (auto *combo = qobject_cast<QComboBox *>(control))
                combo->setCurrentText(values.at(i + 1));
            else if (auto *check = qobject_cast<QCheckBox *>(control))
                check->setChecked(values.at(i + 1) == "1");
            else
                qobject_cast<QLineEdit *>(control)->setText(values.at(i + 1));
        }
        entered = true;
        QPushButton *apply = modal->findChild<QPushButton *>("buttonApply");
        QMetaObject::invokeMethod(
            apply,
            [apply, &applied] {
                apply->click();
                applied = true;
            },
            Qt::QueuedConnection);
        return false;
    });
    openSettingsDialog(path);
    QVERIFY(closer.seen().contains("Информация|Настройки сохранены"));
    QCOMPARE(snapshot(path), expected);
}

QTEST_MAIN(TestProvisionTable)
#include "tst_provisiontable.moc"

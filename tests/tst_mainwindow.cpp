#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

using TestSupport::WindowDriver;

namespace {
QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startupState();
    void storedPort_data();
    void storedPort();
    void refreshStoresTheFirstPort();
    void refreshWithNoPorts();
    void failedOpenIsReportedOnce();

private:
    QTemporaryDir *mDir = nullptr;
    QString mOldDir;
};

void TestMainWindow::init()
{
    mOldDir = QDir::currentPath();
    mDir = new QTemporaryDir;
    QVERIFY(mDir->isValid());
    QDir::setCurrent(mDir->path());
}

void TestMainWindow::cleanup()
{
    QDir::setCurrent(mOldDir);
    delete mDir;
}

void TestMainWindow::startupState()
{
    MainWindow window([] { return QStringList{"ttyA", "ttyB"}; });
    window.show();
    WindowDriver ui(&window);

    QCOMPARE(window.windowTitle(), QStringLiteral("Flash ЛОРТА-МОДЕМ v1.08 08.09.2021"));
    QCOMPARE(window.minimumSize(), QSize(600, 400));
    QCOMPARE(window.maximumSize(), QSize(600, 400));
    QVERIFY(!window.menuWidget());
    QVERIFY(!window.findChild<QStatusBar *>());

    QVERIFY(window.findChild<QLabel *>()->isVisible());
    QCOMPARE(window.findChild<QLabel *>()->text(), QStringLiteral("Выберите компорт: "));
    QVERIFY(ui.portList()->isVisible());
    QCOMPARE(ui.portList()->currentText(), QStringLiteral("ttyA"));
    QVERIFY(ui.button("Обновить список\nкомпортов")->isVisible());
    QVERIFY(!ui.speedList()->isVisible());
    QCOMPARE(ui.speedList()->currentText(), QStringLiteral("9600"));
    QCOMPARE(ui.speedList()->currentData().toInt(), 9600);
    QCOMPARE(ui.openButton()->text(), QStringLiteral("Открыть COM-порт"));
    QVERIFY(ui.presenceBox()->isChecked());
    QCOMPARE(ui.presenceBox()->text(), QStringLiteral("Режим настроки/прошивки ЛОРТА-МОДЕМА"));
    QVERIFY(ui.button("Настройки")->isEnabled());
    for (const char *text : {"Считать настройки", "Загрузить настройки", "Прошить"}) {
        QVERIFY2(ui.button(text)->isVisible(), text);
        QVERIFY2(!ui.button(text)->isEnabled(), text);
    }
    QVERIFY(!ui.button("Очистить модем")->isVisible());
    QVERIFY(!ui.button("Очистить модем")->isEnabled());
    QVERIFY(!ui.progress()->isVisible());
    QCOMPARE(ui.progress()->maximum(), 9);
    QVERIFY(ui.log()->toPlainText().isEmpty());
    // Building the window never writes the port-setting file.
    QVERIFY(!QFileInfo::exists("setting"));
}

void TestMainWindow::storedPort_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("selected");

    QTest::newRow("stored name") << QByteArray("ttyB") << "ttyB";
    QTest::newRow("missing name") << QByteArray("ttyZ") << "ttyA";
    QTest::newRow("name with line end") << QByteArray("ttyB\n") << "ttyA";
    QTest::newRow("case differs") << QByteArray("TTYB") << "ttyA";
    QTest::newRow("up to a zero byte") << QByteArray("ttyB\0junk", 9) << "ttyB";
    QTest::newRow("empty file") << QByteArray() << "ttyA";
}

void TestMainWindow::storedPort()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, selected);
    writeFile("setting", stored);
    MainWindow window([] { return QStringList{"ttyA", "ttyB"}; });
    QCOMPARE(WindowDriver(&window).portList()->currentText(), selected);
    QCOMPARE(readFile("setting"), stored);
}

void TestMainWindow::refreshStoresTheFirstPort()
{
    writeFile("setting", "ttyB");
    QStringList ports{"ttyA", "ttyB"};
    MainWindow window([&ports] { return ports; });
    WindowDriver ui(&window);
    QCOMPARE(ui.portList()->currentText(), QStringLiteral("ttyB"));
    ports = QStringList{"ttyC", "ttyB"};
    ui.button("Обновить список\nкомпортов")->click();
    QCOMPARE(ui.portList()->currentText(), QStringLiteral("ttyC"));
    QCOMPARE(readFile("setting"), QByteArray("ttyC"));
    ui.portList()->setCurrentText("ttyB");
    QCOMPARE(readFile("setting"), QByteArray("ttyB"));
}

void TestMainWindow::refreshWithNoPorts()
{
    QStringList ports{"ttyA"};
    MainWindow window([&ports] { return ports; });
    WindowDriver ui(&window);
    ports.clear();
    ui.button("Обновить список\nкомпортов")->click();
    QCOMPARE(ui.portList()->count(), 0);
    QCOMPARE(readFile("setting"), QByteArray());
    // An empty list refreshed to an empty list leaves the file as it was.
    writeFile("setting", "kept");
    ui.button("Обновить список\nкомпортов")->click();
    QCOMPARE(readFile("setting"), QByteArray("kept"));
}

void TestMainWindow::failedOpenIsReportedOnce()
{
    MainWindow window([] { return QStringList{"/nonexistent/tty-lorta"}; });
    WindowDriver ui(&window);
    ui.openButton()->click();
    QTRY_COMPARE(ui.countLogLines("Ошибка при открытии порта"), 1);
    QTest::qWait(100); // a second report would be queued by now
    QCOMPARE(ui.logLines(), QStringList{"Ошибка при открытии порта"});
    QVERIFY(!ui.portOpen());
    QVERIFY(ui.portRow()->isEnabled());
    QVERIFY(ui.button("Настройки")->isEnabled());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

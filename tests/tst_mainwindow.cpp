#include "protocol/tooltexts.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using TestSupport::WindowDriver;

namespace {
// The stored port name, or "<missing>".
QByteArray stored()
{
    QFile file("setting");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
void store(const QByteArray &name)
{
    QFile file("setting");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name) == name.size());
}
} // namespace

// The window remembers the chosen port in the file "setting" of the working folder.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(mDir.isValid() && QDir::setCurrent(mDir.path())); }
    void cleanup() { QFile::remove("setting"); }
    void cleanupTestCase() { QDir::setCurrent(mOldDir); }
    void storedPort_data();
    void storedPort();
    void refreshStoresTheFirstPort();

private:
    QString mOldDir = QDir::currentPath();
    QTemporaryDir mDir;
};

// At start the stored port is selected when listed (the file is never rewritten then),
// the job buttons wait for the modem and the presence check is on at 9600 bit/s.
void TestMainWindow::storedPort_data()
{
    QTest::addColumn<QByteArray>("name"); // null: no file
    QTest::addColumn<QString>("selected");
    QTest::newRow("no file") << QByteArray() << "ttyA";
    QTest::newRow("stored name") << QByteArray("ttyB") << "ttyB";
    QTest::newRow("missing name") << QByteArray("ttyZ") << "ttyA";
    QTest::newRow("name with line end") << QByteArray("ttyB\n") << "ttyA";
    QTest::newRow("case differs") << QByteArray("TTYB") << "ttyA";
    QTest::newRow("up to a zero byte") << QByteArray("ttyB\0junk", 9) << "ttyB";
    QTest::newRow("empty file") << QByteArray("") << "ttyA";
}

void TestMainWindow::storedPort()
{
    QFETCH(QByteArray, name);
    if (!name.isNull())
        store(name);
    MainWindow window([] { return QStringList{"ttyA", "ttyB"}; });
    window.show();
    WindowDriver ui(&window);
    QTEST(ui.portList()->currentText(), "selected");
    QCOMPARE(stored(), name.isNull() ? QByteArray("<missing>") : name);
    QVERIFY(ui.jobButtonsDisabled() && !ui.button(ToolText::clearButton())->isVisible() &&
            ui.presenceBox()->isChecked() && !ui.progress()->isVisible() &&
            ui.speedList()->currentData().toInt() == 9600);
}

// A refreshed list selects its first port and stores it; so does every later choice.
// An empty list stores an empty name, and refreshing it again leaves the file alone.
void TestMainWindow::refreshStoresTheFirstPort()
{
    store("ttyB");
    QStringList ports{"ttyA", "ttyB"};
    MainWindow window([&ports] { return ports; });
    WindowDriver ui(&window);
    QPushButton *refresh = ui.button("Обновить список\nкомпортов");
    ports = QStringList{"ttyC", "ttyB"};
    refresh->click();
    QCOMPARE(ui.portList()->currentText(), QString("ttyC"));
    QCOMPARE(stored(), QByteArray("ttyC"));
    ui.portList()->setCurrentText("ttyB");
    QCOMPARE(stored(), QByteArray("ttyB"));
    ports.clear();
    refresh->click();
    QCOMPARE(stored(), QByteArray());
    store("kept");
    refresh->click();
    QCOMPARE(stored(), QByteArray("kept"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

// The bench's tiles: they fill a window of the bench's usual sizes without
// scrolling, and their verdict colours tell apart in greyscale.
#include "line/socketmodel.h"
#include "socketbench.h"
#include "testtiming.h"
#include "ui/benchwindow.h"
#include "ui/tiledelegate.h"
#include "ui/tilegrid.h"

#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

namespace {
const QByteArray settingsText = "APN::modem.apn::Точка входа GPRS\r\n";
constexpr int socketsMs = 20000;
// Greyscale contrast between two verdicts, and between a tile and its text.
constexpr double toneContrast = 3.0;
constexpr double textContrast = 4.5;

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &color)
{
    return 0.2126 * channel(color.red()) + 0.7152 * channel(color.green()) +
           0.0722 * channel(color.blue());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

// The lightness level of a verdict by what the operator does next.
int level(int verdict)
{
    switch (verdict) {
    case SocketModel::Rejected:
    case SocketModel::NoAnswer:
        return 0;
    case SocketModel::Unplugged:
    case SocketModel::NoPort:
    case SocketModel::OutOfService:
    case SocketModel::Interrupted:
    case SocketModel::NoTableRow:
        return 1;
    }
    return 2;
}
} // namespace

class TestTiles : public QObject
{
    Q_OBJECT

private slots:
    void fillWindow_data();
    void fillWindow();
    void grid_data();
    void grid();
    void palette();
};

void TestTiles::fillWindow_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("sockets");
    QTest::newRow("16 in 1280x720") << QSize(1280, 720) << 16;
    QTest::newRow("32 in 1920x1080") << QSize(1920, 1080) << 32;
}

// Ports that do not open make sockets cheaply; every tile of them lies inside
// the viewport and no scroll bar is needed.
void TestTiles::fillWindow()
{
    QFETCH(QSize, size);
    QFETCH(int, sockets);
    QTemporaryDir dir;
    TestSupport::SocketBench bench(TestSupport::fastScale);
    QFile settings(dir.filePath(QStringLiteral("settings.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write(settingsText) > 0);
    settings.close();
    BenchWindow window(bench.lister(), nullptr, TestSupport::fastTiming());
    window.findChild<QLineEdit *>(QStringLiteral("editJournal"))
        ->setText(dir.filePath(QStringLiteral("j.csv")));
    window.setSettingsFile(settings.fileName());
    window.show();
    window.resize(size);
    window.findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
    // Plugged once the watch runs: ports already there at its start are left alone.
    for (int i = 1; i <= sockets; ++i)
        bench.plugPort(dir.filePath(QStringLiteral("ttyMissing%1").arg(i)),
                       QStringLiteral("1-%1").arg(i));
    QTRY_COMPARE_WITH_TIMEOUT(window.model()->rowCount(), sockets, socketsMs);

    auto *view = window.findChild<QListView *>(QStringLiteral("viewTiles"));
    // Nothing to scroll to, whether or not a bar shows.
    QTRY_COMPARE(view->verticalScrollBar()->maximum(), 0);
    const QRect viewport = view->viewport()->rect();
    for (int row = 0; row < sockets; ++row) {
        const QRect tile = view->visualRect(window.model()->index(row, 0));
        QVERIFY2(viewport.contains(tile), qPrintable(QStringLiteral("tile %1").arg(row)));
    }
    const QSize tile = view->visualRect(window.model()->index(0, 0)).size();
    QVERIFY(tile.width() >= TileGrid::minimumTile().width());
    QVERIFY(tile.height() >= TileGrid::minimumTile().height());
}

void TestTiles::grid_data()
{
    QTest::addColumn<QSize>("viewport");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("one socket") << QSize(1200, 600) << 1 << false;
    QTest::newRow("eight") << QSize(1200, 600) << 8 << false;
    QTest::newRow("too many") << QSize(800, 400) << 40 << true;
    QTest::newRow("narrow") << QSize(150, 400) << 3 << true;
}

// Tiles stay between the minimum and the maximum, and only the scrolling
// layout overflows the viewport.
void TestTiles::grid()
{
    QFETCH(QSize, viewport);
    QFETCH(int, count);
    QFETCH(bool, scrolls);
    const TileGrid grid = TileGrid::fit(viewport, count);
    QCOMPARE(grid.scrolls(), scrolls);
    QVERIFY(grid.tile().width() <= TileGrid::maximumTile().width());
    QVERIFY(grid.tile().height() <= TileGrid::maximumTile().height());
    QVERIFY(grid.tile().width() >= TileGrid::minimumTile().width());
    QVERIFY(grid.tile().height() >= TileGrid::minimumTile().height());
    if (!scrolls) {
        const int rows = (count + grid.columns() - 1) / grid.columns();
        QVERIFY(grid.columns() * grid.tile().width() <= viewport.width());
        QVERIFY(rows * grid.tile().height() <= viewport.height());
    }
}

// Verdicts of different levels differ in lightness, not only in hue; each
// word and shape reads on its tile.
void TestTiles::palette()
{
    const int first = SocketModel::Waiting;
    const int last = SocketModel::NoTableRow;
    for (int a = first; a <= last; ++a) {
        const QColor back = TileDelegate::background(a);
        QVERIFY2(contrast(back, TileDelegate::foreground(a)) >= textContrast,
                 qPrintable(TileDelegate::word(a)));
        for (int b = a + 1; b <= last; ++b) {
            if (level(a) == level(b))
                continue;
            QVERIFY2(
                contrast(back, TileDelegate::background(b)) >= toneContrast,
                qPrintable(TileDelegate::word(a) + QStringLiteral(" / ") + TileDelegate::word(b)));
        }
    }
}

QTEST_MAIN(TestTiles)
#include "tst_tiles.moc"

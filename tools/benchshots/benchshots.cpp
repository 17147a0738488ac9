// Draws the bench window over sixteen sockets (simulated modems and ports that do not open) in
// mixed states and saves it as a PNG: lorta-bench-shots <file.png> [<verdicts.png>]; the
// second picture shows one tile of every verdict as the tile delegate draws it. Run under
// Xvfb by scripts/screenshots.
#include "benchstage.h"
#include "line/socketmodel.h"
#include "ui/benchwindow.h"
#include "ui/tiledelegate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {
constexpr int pollMs = 100;
constexpr int giveUpMs = 240000;

int flashingPercent(const SocketModel &model)
{
    int least = 100;
    int running = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        const int percent = model.index(row, 0).data(SocketModel::ProgressRole).toInt();
        if (percent >= 0)
            least = qMin(least, percent);
        // Counted once a file is on its way, so the bytes show too.
        running += percent >= 0 && model.index(row, 0)
                                       .data(SocketModel::DetailRole)
                                       .toString()
                                       .contains(QStringLiteral("КБ"));
    }
    return running == 2 ? least : -1;
}
struct Sample
{
    SocketModel::Verdict verdict;
    const char *state;
    const char *detail;
};

// Every verdict on a tile of the size 16 sockets get at 1280x720.
bool saveVerdicts(const QString &target)
{
    const Sample samples[] = {
        {SocketModel::Waiting, "Ждём модем", ""},
        {SocketModel::Working, "Прошивка: шаг 7 из 10", "main.pyo: 12 из 31 КБ"},
        {SocketModel::Done, "Готово — снимите модем", "за 0:38"},
        {SocketModel::AlreadyFlashed, "Модем уже прошит: его скрипт работает", ""},
        {SocketModel::Rejected, "Ошибка: at#wscript=\"main.pyo\", ERROR", ""},
        {SocketModel::NoAnswer, "Модем не отвечает", "пришло: \\xff\\xfe"},
        {SocketModel::Interrupted, "Прошивка прервана", ""},
        {SocketModel::Unplugged, "Модем отключён во время прошивки", ""},
        {SocketModel::NoPort, "Порт не открылся", "Порт занят другой программой"},
        {SocketModel::OutOfService, "Гнездо 10 отключено: 3 ошибки подряд", ""},
        {SocketModel::NoTableRow, "нет строки в таблице для IMEI 356938035643809", ""},
    };
    constexpr int columns = 6;
    const QSize tile(209, 127);
    QStandardItemModel model;
    QImage image(tile.width() * columns, tile.height() * 2, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    TileDelegate delegate;
    int row = 0;
    for (const Sample &sample : samples) {
        auto *item = new QStandardItem;
        item->setData(int(sample.verdict), SocketModel::VerdictRole);
        item->setData(row + 1, SocketModel::NumberRole);
        item->setData(QStringLiteral("ttyUSB%1 · 0403:6001").arg(row), SocketModel::PortRole);
        item->setData(QStringLiteral("490154203237518"), SocketModel::ImeiRole);
        item->setData(QString::fromUtf8(sample.state), SocketModel::StateTextRole);
        item->setData(QString::fromUtf8(sample.detail), SocketModel::DetailRole);
        item->setData(sample.verdict == SocketModel::Working ? 40 : -1, SocketModel::ProgressRole);
        model.appendRow(item);
        QStyleOptionViewItem option;
        option.rect =
            QRect(QPoint(row % columns * tile.width(), row / columns * tile.height()), tile);
        option.font = QApplication::font();
        delegate.paint(&painter, option, model.index(row, 0));
        ++row;
    }
    painter.end();
    return image.save(target, "PNG");
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: lorta-bench-shots <file.png> [<verdicts.png>]\n");
        return 2;
    }
    const QString target = QString::fromLocal8Bit(argv[1]);
    if (argc == 3) {
        const QString verdicts = QString::fromLocal8Bit(argv[2]);
        if (!saveVerdicts(verdicts))
            return 1;
        std::printf("Screenshot (every verdict): %s\n", qPrintable(verdicts));
    }
    QTemporaryDir dir;
    BenchStage stage;
    QString error;
    QFile settings(dir.filePath(QStringLiteral("settings.ini")));
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write("APN::internet.mts.ru::Точка входа GPRS\r\n") < 0)
        return 1;
    settings.close();

    BenchWindow window(stage.lister(), nullptr);
    window.findChild<QLineEdit *>(QStringLiteral("editJournal"))
        ->setText(dir.filePath(QStringLiteral("lorta-journal.csv")));
    window.setSettingsFile(settings.fileName());
    window.show();
    // After show: the window's first show fits it to the screen.
    window.resize(1280, 720);
    window.findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
    if (!stage.start(&error)) {
        std::fprintf(stderr, "lorta-bench-shots: %s\n", qPrintable(error));
        return 1;
    }

    int exitCode = 1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        const SocketModel &model = *window.model();
        const auto toneOf = [&model](int index) {
            return index < model.rowCount()
                       ? model.index(index, 0).data(SocketModel::ToneRole).toInt()
                       : -1;
        };
        if (model.rowCount() < BenchStage::socketCount ||
            !stage.advance(toneOf, flashingPercent(model)))
            return;
        // The flashing socket's log below the tiles, as after a click on it.
        auto *view = window.findChild<QListView *>(QStringLiteral("viewTiles"));
        view->setCurrentIndex(model.index(1, 0));
        emit view->clicked(model.index(1, 0));
        if (window.grab().save(target, "PNG")) {
            std::printf("Screenshot (bench window, 16 sockets): %s\n", qPrintable(target));
            exitCode = 0;
        }
        app.quit();
    });
    poll.start(pollMs);
    QTimer::singleShot(giveUpMs, &app, [&app] {
        std::fprintf(stderr, "lorta-bench-shots: the sockets did not reach their states\n");
        app.quit();
    });
    app.exec();
    return exitCode;
}

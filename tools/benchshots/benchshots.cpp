// Draws the bench window over sixteen sockets (simulated modems and ports that do not open) in
// mixed states and saves it as a PNG: lorta-bench-shots <file.png>. Run under Xvfb by
// scripts/screenshots.
#include "benchstage.h"
#include "line/socketmodel.h"
#include "ui/benchwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
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
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: lorta-bench-shots <file.png>\n");
        return 2;
    }
    const QString target = QString::fromLocal8Bit(argv[1]);
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

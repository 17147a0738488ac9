// lorta-win-driver: the tool's real main window, or its bare serial worker, run
// by commands on standard input (one a line) with replies and events on
// standard output. lorta-win-check runs it under Wine against the simulated
// modem, and natively for comparison; the checks themselves live there.
//
//   ports                      "ports NAME|NAME..." as the window lists them
//   open PORT                  "listed yes|no", then "opened MS" or "open-failed"
//   ready TIMEOUT_MS           "ready MS" once the job buttons are on, or "not-ready"
//   click TEXT                 presses the button, "clicked EPOCH_MS"
//   close                      presses "Закрыть COM-порт", "closed MS" (the click blocks)
//   log                        "log LINE" per pane line without stamps, then "log-end"
//   exchange PORT WAIT_MS [COMMAND]
//                              the worker alone: opens PORT, hands over COMMAND
//                              (default "at") and "\r" with that answer wait,
//                              "answer MS HEX" or "open-failed"
//   bench DIR PORT [CONNINFO]  the bench window beside the main one, over the
//                              system's port list cut down to PORT: settings
//                              DIR/settings.ini, journal DIR/journal.csv, the
//                              port present at its start taken too; with CONNINFO
//                              its records go to that server too, as bench
//                              "Окно Wine"; "bench-up TITLE",
//                              "bench-dialogs CANCEL|FILE NAME|FILE TYPE" as Qt's dialogs say them,
//                              then "tile N|PORT|STATE|DETAIL" whenever a tile
//                              changes, and "bench-start ok" or "bench-start refused TEXT"
//   location PORT              "location TEXT": the USB position the socket of
//                              PORT is read from (empty without USB)
//   quit
//
// Whenever a modal box or dialog shows, it is closed as an operator would and
// "box EPOCH_MS TITLE|TEXT" is printed.

#include "line/socketmodel.h"
#include "line/usblocation.h"
#include "modalcloser.h"
#include "protocol/tooltexts.h"
#include "serial/serialport.h"
#include "ui/benchwindow.h"
#include "ui/mainwindow.h"
#include "ui/russiantranslation.h"
#include "windowdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

using TestSupport::ModalCloser;
using TestSupport::WindowDriver;

namespace {

constexpr int pollMs = 5;
constexpr int openTimeoutMs = 10000;
constexpr int exchangeTimeoutMs = 30000;

void say(const QString &line)
{
    std::cout << line.toUtf8().constData() << std::endl;
}

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Calls done(true, ms) once condition() holds, or done(false, ms) after timeoutMs,
// without blocking the event loop (modal boxes and the worker's signals go on).
void waitFor(std::function<bool()> condition, int timeoutMs, std::function<void(bool, qint64)> done)
{
    auto *timer = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(pollMs);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        const bool met = condition();
        if (!met && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        done(met, clock->elapsed());
    });
    timer->start();
}

class Driver
{
public:
    Driver() : mUi(&mWindow)
    {
        mWindow.show();
        mCloser.setInspector([](QWidget *modal) {
            // Printed here, before the box goes, so the time is when it showed.
            QString seen = modal->windowTitle() + QLatin1Char('|');
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                seen += box->text();
            say(QStringLiteral("box %1 %2").arg(now()).arg(seen));
            return true;
        });
    }

    void handle(const QString &line)
    {
        const QString command = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (command == QLatin1String("ports"))
            say(QStringLiteral("ports ") + listedPorts().join(QLatin1Char('|')));
        else if (command == QLatin1String("open"))
            open(rest);
        else if (command == QLatin1String("ready"))
            waitFor([this] { return mUi.jobButtonsEnabled(); }, rest.toInt(),
                    [](bool met, qint64 ms) {
                        say(met ? QStringLiteral("ready %1").arg(ms) : QStringLiteral("not-ready"));
                    });
        else if (command == QLatin1String("click"))
            click(rest);
        else if (command == QLatin1String("close"))
            close();
        else if (command == QLatin1String("log"))
            log();
        else if (command == QLatin1String("exchange"))
            exchange(rest.section(QLatin1Char(' '), 0, 0),
                     rest.section(QLatin1Char(' '), 1, 1).toInt(),
                     rest.section(QLatin1Char(' '), 2).toUtf8());
        else if (command == QLatin1String("bench"))
            bench(rest.section(QLatin1Char(' '), 0, 0), rest.section(QLatin1Char(' '), 1, 1),
                  rest.section(QLatin1Char(' '), 2));
        else if (command == QLatin1String("location"))
            say(QStringLiteral("location ") + UsbLocation::of(rest));
        else if (command == QLatin1String("quit"))
            qApp->quit();
        else
            say(QStringLiteral("unknown ") + line);
    }

private:
    QStringList listedPorts() const
    {
        QStringList ports;
        for (int i = 0; i < mUi.portList()->count(); ++i)
            ports << mUi.portList()->itemText(i);
        return ports;
    }

    void open(const QString &port)
    {
        say(QStringLiteral("listed ") + (listedPorts().contains(port) ? "yes" : "no"));
        const int failuresBefore = mUi.countLogLines(ToolText::portOpenFailed());
        mUi.openPort(port);
        waitFor(
            [=] {
                return mUi.portOpen() ||
                       mUi.countLogLines(ToolText::portOpenFailed()) > failuresBefore;
            },
            openTimeoutMs,
            [this](bool, qint64 ms) {
                say(mUi.portOpen() ? QStringLiteral("opened %1").arg(ms)
                                   : QStringLiteral("open-failed"));
            });
    }

    void click(const QString &text)
    {
        QPushButton *button = mUi.button(text);
        if (!button) {
            say(QStringLiteral("no-button ") + text);
            return;
        }
        // Queued, so that a box the click opens does not hold up the reply.
        QTimer::singleShot(0, button, &QPushButton::click);
        say(QStringLiteral("clicked %1").arg(now()));
    }

    void close()
    {
        QElapsedTimer clock;
        clock.start();
        mUi.closePort();
        say(QStringLiteral("closed %1").arg(clock.elapsed()));
    }

    void log() const
    {
        const QStringList lines = mUi.logLines();
        for (const QString &line : lines)
            say(QStringLiteral("log ") + line);
        say(QStringLiteral("log-end"));
    }

    // The worker on its own: one command with the given answer wait, timed from
    // the hand-over to the answer, as the window's jobs use it.
    void exchange(const QString &port, int waitMs, QByteArray command)
    {
        if (command.isEmpty())
            command = "at";
        command += '\r';
        auto worker = std::make_shared<SerialPort>(Timing().worker);
        auto clock = std::make_shared<QElapsedTimer>();
        auto finish = [worker](const QString &reply) {
            say(reply);
            worker->stopPort();
            while (worker->isPortOpened())
                QThread::yieldCurrentThread();
            worker->wait();
            worker->disconnect();
        };
        QObject::connect(worker.get(), &SerialPort::signal_openPort_ok, qApp, [=] {
            waitFor([=] { return worker->setRequest(command, waitMs); }, exchangeTimeoutMs,
                    [clock](bool, qint64) { clock->start(); });
        });
        QObject::connect(worker.get(), &SerialPort::signal_openPort_error, qApp,
                         [=] { finish(QStringLiteral("open-failed")); });
        QObject::connect(worker.get(), &SerialPort::signal_receivedAnswer, qApp,
                         [=](const QByteArray &answer) {
                             finish(QStringLiteral("answer %1 %2")
                                        .arg(clock->elapsed())
                                        .arg(QString::fromLatin1(answer.toHex())));
                         });
        worker->setPortSettings(port, 9600);
        worker->startPort();
    }

    // The bench window over the system's port list, its journal and settings in
    // dir; every tile change is reported as the operator would read it. Only
    // the modem's port is let through: the present ports are taken, and the
    // others (Wine's COM1 is the machine's /dev/ttyS0) must not get a command.
    void bench(const QString &dir, const QString &port, const QString &conninfo)
    {
        const PortLister lister([port] {
            QList<PortEntry> ports = PortLister::systemPorts();
            ports.erase(std::remove_if(ports.begin(), ports.end(),
                                       [&](const PortEntry &entry) { return entry.name != port; }),
                        ports.end());
            return ports;
        });
        // As the bench's own main() does: Qt's dialogs in Russian from the executable itself.
        installRussianTranslation(*QCoreApplication::instance());
        mBench = std::make_unique<BenchWindow>(lister, nullptr);
        mBench->show();
        say(QStringLiteral("bench-up ") + mBench->windowTitle());
        QFileDialog files(mBench.get());
        files.setOption(QFileDialog::DontUseNativeDialog);
        const QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        say(QStringLiteral("bench-dialogs ") + buttons.button(QDialogButtonBox::Cancel)->text() +
            QLatin1Char('|') + files.labelText(QFileDialog::FileName) + QLatin1Char('|') +
            files.labelText(QFileDialog::FileType));
        SocketModel *model = mBench->model();
        auto report = [model](int row) {
            const QModelIndex tile = model->index(row, 0);
            say(QStringLiteral("tile %1|%2|%3|%4")
                    .arg(tile.data(SocketModel::NumberRole).toInt())
                    .arg(tile.data(SocketModel::PortRole).toString(),
                         tile.data(SocketModel::StateTextRole).toString(),
                         tile.data(SocketModel::DetailRole).toString()));
        };
        QObject::connect(model, &QAbstractItemModel::rowsInserted, mBench.get(),
                         [report](const QModelIndex &, int first, int last) {
                             for (int row = first; row <= last; ++row)
                                 report(row);
                         });
        QObject::connect(model, &QAbstractItemModel::dataChanged, mBench.get(),
                         [report](const QModelIndex &from, const QModelIndex &to) {
                             for (int row = from.row(); row <= to.row(); ++row)
                                 report(row);
                         });
        mBench->setSettingsFile(QDir(dir).filePath(QStringLiteral("settings.ini")));
        mBench->findChild<QLineEdit *>(QStringLiteral("editJournal"))
            ->setText(QDir(dir).filePath(QStringLiteral("journal.csv")));
        mBench->findChild<QCheckBox *>(QStringLiteral("checkIncludePresent"))->setChecked(true);
        if (!conninfo.isEmpty()) {
            mBench->findChild<QLineEdit *>(QStringLiteral("editDatabase"))->setText(conninfo);
            mBench->findChild<QLineEdit *>(QStringLiteral("editBench"))
                ->setText(QStringLiteral("Окно Wine"));
        }
        mBench->findChild<QPushButton *>(QStringLiteral("buttonStart"))->click();
        QLabel *problem = mBench->findChild<QLabel *>(QStringLiteral("labelProblem"));
        say(mBench->running() ? QStringLiteral("bench-start ok")
                              : QStringLiteral("bench-start refused ") + mBench->settingsProblem() +
                                    problem->text());
    }

    MainWindow mWindow;
    std::unique_ptr<BenchWindow> mBench;
    WindowDriver mUi;
    ModalCloser mCloser;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Driver driver;
    // Standard input is read on a thread of its own; each line is handled on the
    // GUI thread. The end of input quits.
    std::thread reader([&app, &driver] {
        std::string line;
        while (std::getline(std::cin, line)) {
            QString text = QString::fromUtf8(line.c_str()).trimmed();
            QMetaObject::invokeMethod(
                &app, [&driver, text] { driver.handle(text); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    reader.detach();
    say(QStringLiteral("driver-up %1").arg(now()));
    return app.exec();
}

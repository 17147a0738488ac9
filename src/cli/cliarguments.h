#pragma once

#include "protocol/modemfiles.h"
#include "session/operationtype.h"

#include <QString>
#include <QStringList>
#include <optional>

// The command line of the flasher, checked before any port is touched.
struct CliArguments
{
    enum class Command
    {
        Ports,
        Job,
        Help
    };

    Command command = Command::Help;
    OperationType job = OperationType::None;
    QString jobName;
    QStringList ports;
    QString settingsFile = ModemFiles::settings();
    bool settingsGiven = false;
    QString outFile;
    // A provisioning table: each port's modem its own row, by its IMEI.
    QString provisionFile;
    int connectTimeoutS = 10;
    bool json = false;
    QString logFile;

    // The arguments after the program name; nullopt with a one-line reason for a usage error.
    static std::optional<CliArguments> parse(const QStringList &arguments, QString *error);
    static QString usage();
    // Two names of the same device (ttyUSB0 and /dev/ttyUSB0, a link to it) compare equal.
    static QString portKey(const QString &name);
    // The file read settings stores a port's copy in.
    QString readTargetFor(const QString &port) const;
    // Why two of the files the run writes or sends are one file, or an empty string.
    QString fileConflict() const;
};

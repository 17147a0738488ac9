#pragma once

#include <QString>
#include <QStringList>

// Why a port could not be opened, in Russian with one thing to do: the device
// has vanished, the user may not open it (and which group to join), or another
// program holds it (on Linux named from /proc). On Linux it also names
// ModemManager or brltty when they run, since they grab new USB-serial ports.
class OpenFailureHint
{
public:
    // procRoot and the device path are parameters so that a test can build both.
    explicit OpenFailureHint(const QString &procRoot = QStringLiteral("/proc"))
        : mProcRoot(procRoot)
    {
    }

    enum class Reason
    {
        Vanished,
        NoPermission, // detail: the device's group
        Held          // detail: the programs holding it, may be empty
    };

    QString explain(const QString &devicePath) const;
    // The text for a reason, with the port grabbers found running.
    static QString text(Reason reason, const QString &devicePath, const QString &detail,
                        const QStringList &grabbers);

    // The programs that have the device open, by their names in /proc.
    QStringList holders(const QString &devicePath) const;
    // The port grabbers among the running programs.
    QStringList grabbers() const;

private:
    static QString deviceGroup(const QString &devicePath);

    QString mProcRoot;
};

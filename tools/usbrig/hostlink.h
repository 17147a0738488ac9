#pragma once

#include <QString>

// The window check's side of the rig's mailbox: a folder on the share that the
// host watches. Asking is creating a file; the host answers with a file of its own.
class HostLink
{
public:
    explicit HostLink(const QString &folder) : mFolder(folder) {}

    // Creates NAME (with optional text) at once, so the host's clock can stamp it.
    bool post(const QString &name, const QByteArray &text = QByteArray()) const;
    bool has(const QString &name) const;
    // Removes NAME so that the same answer can be given again later.
    void take(const QString &name) const;

private:
    QString mFolder;
};

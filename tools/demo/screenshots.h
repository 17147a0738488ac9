#pragma once

#include <QString>

class QWidget;

// Saves pictures of widgets as PNG files into one folder; does nothing when
// no folder was asked for.
class Screenshots
{
public:
    // An absolute folder, created when missing; empty turns the pictures off.
    explicit Screenshots(const QString &folder);

    bool enabled() const { return !mFolder.isEmpty(); }
    QString folder() const { return mFolder; }
    bool ready() const; // the folder exists or could be created
    // Renders the widget itself, without the window frame; says where it went.
    void save(QWidget *widget, const QString &name, const QString &what) const;

private:
    QString mFolder;
};

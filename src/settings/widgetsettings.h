#pragma once

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;

// Edits the modem configuration file: eight controls for the keys the operator
// may change, "Применить" rewrites the whole file from the template.
class WidgetSettings : public QDialog
{
    Q_OBJECT

public:
    using LinesWriter = std::function<bool(const QString &, const QStringList &)>;

    explicit WidgetSettings(const QString &fileName, QWidget *parent = nullptr);
    ~WidgetSettings() override;

    // Replaces the file writer; lets a test make the write fail after the open test.
    void setLinesWriter(LinesWriter writer);

private:
    template <typename Control> Control *addRow(const QString &labelText, const QString &name);
    QLineEdit *addLineEditRow(const QString &labelText, const QString &name);
    void buildControls();
    QList<QPair<QLatin1String, QLineEdit *>> lineEdits() const;
    void applyLines(const QStringList &lines);
    void applyValue(const QString &key, const QString &value);
    QHash<QString, QString> currentValues() const;
    bool holdsSeparator() const;
    bool holdsControlCharacter() const;
    bool canOpenFile() const;
    void apply();
    void failSaving();

    QString mFileName;
    QComboBox *mComboSpeed = nullptr;
    QLineEdit *mEditDestIp = nullptr;
    QLineEdit *mEditDestPort = nullptr;
    QLineEdit *mEditApn = nullptr;
    QLineEdit *mEditGprsUser = nullptr;
    QLineEdit *mEditGprsPasswd = nullptr;
    QLineEdit *mEditPin = nullptr;
    QCheckBox *mCheckCrypt = nullptr;
    LinesWriter mWriterLines;
};

// Runs the settings dialog for the file modally and destroys it afterwards.
void openSettingsDialog(const QString &fileName);

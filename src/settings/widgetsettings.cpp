#include "settings/widgetsettings.h"

#include "protocol/modemfiles.h"
#include "protocol/tooltexts.h"
#include "settings/settingsfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int dialogWidth = 400;
constexpr int dialogHeight = 300;
constexpr int layoutGap = 10;
constexpr int controlWidth = 100;
QString titleError()
{
    return ToolText::failureTitle();
}

} // namespace

WidgetSettings::WidgetSettings(const QString &fileName, QWidget *parent)
    : QDialog(parent), mFileName(fileName), mWriterLines(writeLinesToFile)
{
    setWindowTitle(ToolText::settingsTitle());
    setFixedSize(dialogWidth, dialogHeight);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(layoutGap, layoutGap, layoutGap, layoutGap);
    layout->setSpacing(layoutGap);
    const QStringList lines = readSettingsLines(mFileName);
    buildControls();
    applyLines(lines);
}

WidgetSettings::~WidgetSettings() = default;

void WidgetSettings::setLinesWriter(LinesWriter writer)
{
    mWriterLines = std::move(writer);
}

template <typename Control>
Control *WidgetSettings::addRow(const QString &labelText, const QString &name)
{
    auto *row = new QWidget(this);
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(layoutGap);
    rowLayout->addWidget(new QLabel(labelText, row));
    auto *control = new Control(row);
    control->setObjectName(name);
    rowLayout->addWidget(control, 0, Qt::AlignRight);
    layout()->addWidget(row);
    return control;
}

QLineEdit *WidgetSettings::addLineEditRow(const QString &labelText, const QString &name)
{
    auto *edit = addRow<QLineEdit>(labelText, name);
    edit->setFixedWidth(controlWidth);
    return edit;
}

void WidgetSettings::buildControls()
{
    mComboSpeed = addRow<QComboBox>(QStringLiteral("Скорость компорта:"), "comboSpeed");
    mComboSpeed->setFixedWidth(controlWidth);
    for (int speed : ModemLine::speeds())
        mComboSpeed->addItem(QString::number(speed), speed);
    mEditDestIp = addLineEditRow(QStringLiteral("IP адрес сервера:"), "editDestIp");
    mEditDestPort = addLineEditRow(QStringLiteral("TCP порт сервера:"), "editDestPort");
    mEditApn = addLineEditRow(QStringLiteral("Точка входа GPRS (APN):"), "editApn");
    mEditGprsUser = addLineEditRow(QStringLiteral("Имя пользователя GPRS:"), "editGprsUser");
    mEditGprsPasswd = addLineEditRow(QStringLiteral("Пароль GPRS:"), "editGprsPasswd");
    mEditPin = addLineEditRow(QStringLiteral("PIN-код:"), "editPin");
    mCheckCrypt = addRow<QCheckBox>(QStringLiteral("Шифровать канал связи:"), "checkCrypt");

    auto *dialogLayout = static_cast<QVBoxLayout *>(layout());
    dialogLayout->addStretch(0);
    auto *buttonApply = new QPushButton(QStringLiteral("Применить"), this);
    buttonApply->setObjectName("buttonApply");
    dialogLayout->addWidget(buttonApply, 0, Qt::AlignRight);
    connect(buttonApply, &QPushButton::clicked, this, &WidgetSettings::apply);
}

QList<QPair<QLatin1String, QLineEdit *>> WidgetSettings::lineEdits() const
{
    return {{SettingsKey::Pin, mEditPin},           {SettingsKey::Apn, mEditApn},
            {SettingsKey::GprsUser, mEditGprsUser}, {SettingsKey::GprsPasswd, mEditGprsPasswd},
            {SettingsKey::DestIp, mEditDestIp},     {SettingsKey::DestPort, mEditDestPort}};
}

void WidgetSettings::applyLines(const QStringList &lines)
{
    const auto fields = settingsFields(lines);
    for (const auto &field : fields)
        applyValue(field.first, field.second);
}

void WidgetSettings::applyValue(const QString &key, const QString &value)
{
    if (key == SettingsKey::CryptData) {
        mCheckCrypt->setChecked(value != QLatin1String("0"));
    } else if (key == SettingsKey::DebugSer) {
        // The tool always writes "0", so anything else was put there by hand.
        if (value != QLatin1String("0"))
            QMessageBox::critical(this, titleError(),
                                  QStringLiteral("Файл настроек изменен иным способом!"));
    } else if (key == SettingsKey::SerSp) {
        const int index = mComboSpeed->findText(value);
        if (index >= 0)
            mComboSpeed->setCurrentIndex(index);
    } else {
        for (const auto &[editKey, edit] : lineEdits()) {
            if (key == editKey)
                edit->setText(value);
        }
    }
}

QHash<QString, QString> WidgetSettings::currentValues() const
{
    QHash<QString, QString> values;
    values.insert(SettingsKey::CryptData,
                  mCheckCrypt->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    values.insert(SettingsKey::SerSp, mComboSpeed->currentText());
    for (const auto &[key, edit] : lineEdits())
        values.insert(key, edit->text());
    return values;
}

bool WidgetSettings::holdsSeparator() const
{
    for (const auto &entry : lineEdits()) {
        if (entry.second->text().contains(SettingsFieldSeparator))
            return true;
    }
    return false;
}

bool WidgetSettings::holdsControlCharacter() const
{
    for (const auto &entry : lineEdits()) {
        if (hasControlCharacter(entry.second->text()))
            return true;
    }
    return false;
}

bool WidgetSettings::canOpenFile() const
{
    QFile file(mFileName);
    return file.open(QIODevice::ReadWrite);
}

void WidgetSettings::apply()
{
    // A value holding the field separator would make its line unreadable.
    if (holdsSeparator()) {
        QMessageBox::critical(
            this, titleError(),
            QStringLiteral("Значения настроек не могут содержать \"::\". Настройки не сохранены"));
        return;
    }
    // A line break would split the value's line in two; other control bytes garble it.
    if (holdsControlCharacter()) {
        QMessageBox::critical(
            this, titleError(),
            QStringLiteral("Значения настроек не могут содержать переводы строк "
                           "и другие управляющие символы. Настройки не сохранены"));
        return;
    }
    const bool existed = QFileInfo::exists(mFileName);
    if (!canOpenFile()) {
        failSaving();
        return;
    }
    if (!mWriterLines(mFileName, composeSettings(currentValues()))) {
        // The open test created an empty file; an empty file would read as blank settings.
        if (!existed)
            QFile::remove(mFileName);
        failSaving();
        return;
    }
    QMessageBox::information(this, QStringLiteral("Информация"),
                             QStringLiteral("Настройки сохранены"));
}

void WidgetSettings::failSaving()
{
    QMessageBox::critical(this, titleError(), ToolText::settingsNotStored(mFileName));
    accept();
}

void openSettingsDialog(const QString &fileName)
{
    WidgetSettings dialog(fileName);
    dialog.exec();
}

#pragma once

#include <QLabel>

// A line of text under the controls that takes no room while it has nothing
// to say, so the tiles get the height.
class NoteLabel : public QLabel
{
    Q_OBJECT

public:
    explicit NoteLabel(QWidget *parent = nullptr) : QLabel(parent)
    {
        setWordWrap(true);
        hide();
    }

    void setNote(const QString &text)
    {
        setText(text);
        setVisible(!text.isEmpty());
    }
};

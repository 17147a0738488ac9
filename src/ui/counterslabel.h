#pragma once

#include <QLabel>

// The bench's counters and yield in bold, sized with the window's width so
// they read from as far as the tiles do.
class CountersLabel : public QLabel
{
    Q_OBJECT

public:
    explicit CountersLabel(QWidget *parent = nullptr);

    // The font's pixel size at this width.
    static int pixelsFor(int width);

protected:
    void resizeEvent(QResizeEvent *event) override;
};

#include "counterslabel.h"

#include <QResizeEvent>

namespace {
constexpr int widthPerPixel = 46;
constexpr int leastPixels = 22;
constexpr int mostPixels = 48;
} // namespace

CountersLabel::CountersLabel(QWidget *parent) : QLabel(parent)
{
    // A small screen breaks the line rather than widening the window.
    setWordWrap(true);
    QFont bold = font();
    bold.setBold(true);
    bold.setPixelSize(leastPixels);
    setFont(bold);
}

int CountersLabel::pixelsFor(int width)
{
    return qBound(leastPixels, width / widthPerPixel, mostPixels);
}

// The size depends on the width alone, so a wrap that changes the height
// does not come back here with another size.
void CountersLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    const int pixels = pixelsFor(event->size().width());
    if (font().pixelSize() == pixels)
        return;
    QFont scaled = font();
    scaled.setPixelSize(pixels);
    setFont(scaled);
}

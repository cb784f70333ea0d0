#include "ui/RotatedLabel.h"

#include <QPainter>

RotatedLabel::RotatedLabel(QWidget *parent)
    : QWidget(parent)
{
}

void RotatedLabel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    updateGeometry();
    update();
}

QSize RotatedLabel::sizeHint() const
{
    const QFontMetrics metrics(font());
    // Width and height trade places: the text's length runs down the label. A pixel each side
    // holds the anti-aliased edge of a descender that reaches the line's bottom (the "g").
    return {metrics.height() + 2, metrics.horizontalAdvance(m_text) + 2};
}

void RotatedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    // Rotating by 90 degrees clockwise in screen coordinates is the 270-degree turn of the
    // text: it reads from top to bottom. The rotated drawing box is the label with its sides
    // swapped, so centring in it centres in the label.
    painter.translate(width(), 0);
    painter.rotate(90);
    const QRect box(0, 0, height(), width());
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, m_text);
}

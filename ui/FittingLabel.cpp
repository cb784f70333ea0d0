#include "ui/FittingLabel.h"

#include <QFontMetricsF>
#include <QPainter>

QFont FittingLabel::shownFont() const
{
    QFont shown = font();
    const double room = contentsRect().width() - 2 * margin();
    const double needed = QFontMetricsF(shown).horizontalAdvance(text());
    if (text().isEmpty() || needed <= room || room <= 0)
        return shown;
    // Point sizes scale the advance almost linearly; a step down more covers the rounding.
    const double size = shown.pointSizeF() > 0 ? shown.pointSizeF() : shown.pixelSize() * 0.75;
    const double smallest = size * kSmallestShare;
    double scaled = qMax(smallest, size * room / needed);
    for (int step = 0; step < 8; ++step) {
        shown.setPointSizeF(scaled);
        if (scaled <= smallest || QFontMetricsF(shown).horizontalAdvance(text()) <= room)
            break;
        scaled = qMax(smallest, scaled * 0.97);
    }
    return shown;
}

void FittingLabel::paintEvent(QPaintEvent *event)
{
    const QFont shown = shownFont();
    if (shown == font() || textFormat() == Qt::RichText || wordWrap()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setFont(shown);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawText(contentsRect().adjusted(margin(), margin(), -margin(), -margin()), int(alignment()), text());
}

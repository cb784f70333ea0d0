#include "ui/RotatedLabel.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

// The bounding box of the pixels the label painted.
QRect inkOf(RotatedLabel &label)
{
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    label.render(&image, {}, {}, QWidget::RenderFlags());
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

} // namespace

TEST(RotatedLabel, TextRunsDownTheLabelCentred)
{
    RotatedLabel label;
    EXPECT_EQ(label.text(), QStringLiteral("Image Shown"));
    label.setText(QStringLiteral("Diagnosis"));
    label.resize(16, 145);
    const QRect ink = inkOf(label);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GT(ink.height(), 2 * ink.width());
    // Centred: the ink's middle lies near the label's middle both ways.
    EXPECT_NEAR(ink.center().y(), 72, 4);
    EXPECT_NEAR(ink.center().x(), 8, 3);
}

TEST(RotatedLabel, TurnedTextReadsFromTopToBottom)
{
    // The first character stands at the top: a full stop first leaves little ink there.
    RotatedLabel label;
    label.resize(20, 120);
    const auto inkAtTop = [&label](const QString &text) {
        label.setText(text);
        QImage image(label.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        label.render(&image, {}, {}, QWidget::RenderFlags());
        const QRect ink = inkOf(label);
        int count = 0;
        for (int y = ink.top(); y < ink.top() + 5; ++y)
            for (int x = 0; x < image.width(); ++x)
                count += qAlpha(image.pixel(x, y)) != 0;
        return count;
    };
    EXPECT_LT(inkAtTop(QStringLiteral(".WWWW")), inkAtTop(QStringLiteral("WWWW.")));
}

#include "ReportTestFiles.h"
#include "report/ReportPreview.h"
#include "report/ReportRenderer.h"
#include "report/ReportTemplate.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QPdfWriter>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr double kDpi = 100.0;
constexpr double kDotsPerMm = kDpi / 25.4;

// The shipped page at 100 dpi, with the band's objects addressed in millimetres.
class RenderedPage : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(report.load(shippedTemplate())); }

    // A band position (mm) in image pixels.
    static QPoint at(double left, double top)
    {
        return QPoint(qRound((20.0 + left) * kDotsPerMm), qRound((12.0 + top) * kDotsPerMm));
    }

    // Dark pixels inside a band rectangle (mm).
    static int darkPixels(const QImage &page, const QRectF &mm)
    {
        const QPoint topLeft = at(mm.left(), mm.top());
        const QPoint bottomRight = at(mm.right(), mm.bottom());
        int count = 0;
        for (int y = topLeft.y(); y < bottomRight.y(); ++y) {
            for (int x = topLeft.x(); x < bottomRight.x(); ++x) {
                if (qGray(page.pixel(x, y)) < 128)
                    ++count;
            }
        }
        return count;
    }

    ReportTemplate report;
};

TEST_F(RenderedPage, IsWhiteA4WithOnlyTheTwoLinesWhenNothingIsFilled)
{
    const QImage page = ReportRenderer::renderToImage(report, kDpi);
    EXPECT_EQ(page.size(), QSize(qRound(210 * kDotsPerMm), qRound(297 * kDotsPerMm)));
    EXPECT_GT(darkPixels(page, QRectF(10, 31.5, 150, 1)), 0);
    EXPECT_GT(darkPixels(page, QRectF(10, 257.5, 150, 1)), 0);
    EXPECT_EQ(darkPixels(page, QRectF(0, 0, 170, 30)), 0);
    EXPECT_EQ(darkPixels(page, QRectF(0, 34, 170, 220)), 0);
}

TEST_F(RenderedPage, TextsAppearInsideTheirFrames)
{
    report.find(QStringLiteral("mm_title"))->text = QStringLiteral("EXAMINATION REPORT");
    report.find(QStringLiteral("mm_doctor"))->text = QStringLiteral("Dr. Wang");
    const QImage page = ReportRenderer::renderToImage(report, kDpi);
    EXPECT_GT(darkPixels(page, QRectF(9, 1, 152, 12)), 200);
    EXPECT_GT(darkPixels(page, QRectF(94, 259, 23, 5)), 20);
    // Centred: the title leaves its frame's first and last 20 mm empty.
    EXPECT_EQ(darkPixels(page, QRectF(9, 1, 20, 12)), 0);
    EXPECT_EQ(darkPixels(page, QRectF(141, 1, 20, 12)), 0);
    // Nothing outside the frames that were filled.
    EXPECT_EQ(darkPixels(page, QRectF(0, 14, 170, 17)), 0);
}

TEST_F(RenderedPage, LongTextIsClippedToItsFrame)
{
    report.find(QStringLiteral("mm_client_name"))->text = QString(60, u'W');
    const QImage page = ReportRenderer::renderToImage(report, kDpi);
    EXPECT_GT(darkPixels(page, QRectF(12, 18, 25, 5)), 20);
    EXPECT_EQ(darkPixels(page, QRectF(38, 17, 13, 14)), 0);
}

TEST_F(RenderedPage, PicturesAreStretchedToTheirFrames)
{
    QImage red(40, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    report.find(QStringLiteral("pic2"))->picture = red;
    const QImage page = ReportRenderer::renderToImage(report, kDpi);
    // Stretched without keeping the aspect ratio: the whole 76 x 57 mm frame is red.
    for (const QPoint &p : {at(90, 41), at(127, 68), at(164, 96)})
        EXPECT_EQ(QColor(page.pixel(p)), QColor(Qt::red));
    EXPECT_EQ(QColor(page.pixel(at(88, 68))), QColor(Qt::white));
    EXPECT_EQ(QColor(page.pixel(at(45, 68))), QColor(Qt::white)); // pic1 stays empty
}

TEST_F(RenderedPage, HiddenObjectsAreNotDrawn)
{
    ReportObject *treat = report.find(QStringLiteral("lb_treat"));
    treat->text = QStringLiteral("Treatment:");
    EXPECT_GT(darkPixels(ReportRenderer::renderToImage(report, kDpi), QRectF(1, 227, 25, 7)), 20);
    treat->visible = false;
    EXPECT_EQ(darkPixels(ReportRenderer::renderToImage(report, kDpi), QRectF(1, 227, 25, 7)), 0);
}

TEST_F(RenderedPage, FindingsKeepTheirExtraGapBetweenLines)
{
    ReportObject *findings = report.find(QStringLiteral("mm_sym5"));
    findings->text = QStringLiteral("first line\nsecond line");
    const QImage page = ReportRenderer::renderToImage(report, kDpi);
    // A 10 pt line is about 4.5 mm high, then 3.7 mm of gap: the band at 5.5 .. 7.5 mm is blank.
    EXPECT_GT(darkPixels(page, QRectF(10, 164.38, 155, 4)), 20);
    EXPECT_EQ(darkPixels(page, QRectF(10, 164.38 + 5.5, 155, 2)), 0);
    EXPECT_GT(darkPixels(page, QRectF(10, 164.38 + 8, 155, 4)), 20);
}

TEST_F(RenderedPage, PrintsOneFullPageOnAPagedDevice)
{
    report.find(QStringLiteral("mm_title"))->text = QStringLiteral("EXAMINATION REPORT");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("report.pdf"));
    {
        QPdfWriter writer(file);
        writer.setPageMargins(QMarginsF(30, 30, 30, 30), QPageLayout::Millimeter);
        ReportRenderer::renderToDevice(report, writer);
        // The template measures from the paper's corner, so the device keeps no margins of its own.
        EXPECT_EQ(writer.pageLayout().margins(QPageLayout::Millimeter), QMarginsF());
        EXPECT_NEAR(writer.pageLayout().pageSize().size(QPageSize::Millimeter).width(), 210.0, 0.5);
    }
    QFile pdf(file);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QByteArray content = pdf.readAll();
    EXPECT_TRUE(content.startsWith("%PDF"));
    EXPECT_EQ(content.count("/Type /Page\n") + content.count("/Type /Page\r"), 1);
}

class PreviewWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(report.load(shippedTemplate()));
        preview.showReport(report);
    }

    ReportTemplate report;
    ReportPreview preview;
};

TEST_F(PreviewWindow, RecordButtonsAskForRecordsInsteadOfTurningPages)
{
    QSignalSpy records(&preview, &ReportPreview::recordRequested);
    QSignalSpy deletes(&preview, &ReportPreview::deleteRequested);
    const QStringList names = {QStringLiteral("actFirst"), QStringLiteral("actPrior"), QStringLiteral("actNext"),
                               QStringLiteral("actLast")};
    const QStringList tips = {QStringLiteral("First Page"), QStringLiteral("Prior Page"), QStringLiteral("Next Page"),
                              QStringLiteral("Last Page")};
    for (int i = 0; i < 4; ++i) {
        QAction *button = preview.action(names[i]);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), tips[i]);
        EXPECT_TRUE(button->text().isEmpty());
        button->trigger();
        ASSERT_EQ(records.size(), i + 1);
        EXPECT_EQ(records.at(i).at(0).toInt(), i + 1);
    }
    EXPECT_EQ(preview.action(QStringLiteral("actDelete"))->toolTip(), QStringLiteral("Delete Page"));
    preview.action(QStringLiteral("actDelete"))->trigger();
    EXPECT_EQ(deletes.size(), 1);
}

TEST_F(PreviewWindow, PrintButtonHandsOverTheReportShown)
{
    report.find(QStringLiteral("mm_title"))->text = QStringLiteral("shown");
    preview.showReport(report);
    QString printed;
    QObject::connect(&preview, &ReportPreview::printRequested,
                     [&](const ReportTemplate &shown) { printed = shown.find(QStringLiteral("mm_title"))->text; });
    preview.action(QStringLiteral("actPrint"))->trigger();
    EXPECT_EQ(printed, QStringLiteral("shown"));
}

TEST_F(PreviewWindow, OpensAtHundredPercentWithTheZoomList)
{
    QComboBox *zoom = preview.zoomBox();
    ASSERT_EQ(zoom->count(), 8);
    EXPECT_EQ(zoom->currentText(), QStringLiteral("100%"));
    EXPECT_EQ(zoom->itemText(0), QStringLiteral("25%"));
    EXPECT_EQ(zoom->itemText(7), QStringLiteral("Whole page"));
}

} // namespace

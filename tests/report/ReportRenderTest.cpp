#include "ReportTestFiles.h"
#include "TestHome.h"
#include "report/ReportPreview.h"
#include "report/ReportRenderer.h"
#include "report/ReportTemplate.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
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

    // The ink's bounding box (image pixels) inside a band rectangle (mm); null when blank.
    static QRect inkBounds(const QImage &page, const QRectF &mm, double dotsPerMm = kDotsPerMm)
    {
        const auto px = [dotsPerMm](double left, double top) {
            return QPoint(qRound((20.0 + left) * dotsPerMm), qRound((12.0 + top) * dotsPerMm));
        };
        const QPoint topLeft = px(mm.left(), mm.top());
        const QPoint bottomRight = px(mm.right(), mm.bottom());
        QRect bounds;
        for (int y = topLeft.y(); y < bottomRight.y(); ++y) {
            for (int x = topLeft.x(); x < bottomRight.x(); ++x) {
                if (qGray(page.pixel(x, y)) < 160)
                    bounds |= QRect(x, y, 1, 1);
            }
        }
        return bounds;
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

TEST_F(RenderedPage, TextSharesOneBaselineAcrossScriptsAndAlongARow)
{
    constexpr double kFine = 300.0 / 25.4;
    const auto bottomOfLatin = [&](const QString &text) {
        report.find(QStringLiteral("mm_sym1"))->text = text;
        const QImage page = ReportRenderer::renderToImage(report, 300.0);
        return inkBounds(page, QRectF(26, 195, 9, 8), kFine).bottom();
    };
    // Latin words keep their place when Chinese joins them on the line.
    EXPECT_EQ(bottomOfLatin(QStringLiteral("HHHH")), bottomOfLatin(QStringLiteral("HHHH 检查所见第一行")));

    // A label and its value on one row: the colon and the digits stand on the same line, also
    // where the label is larger (12 pt beside 10 pt).
    report.find(QStringLiteral("lbAge"))->text = QStringLiteral("年龄:");
    report.find(QStringLiteral("mm_client_age"))->text = QStringLiteral("45");
    report.find(QStringLiteral("lb_treat"))->text = QStringLiteral("Treatment:");
    report.find(QStringLiteral("mm_treat1"))->text = QStringLiteral("Rest");
    const QImage page = ReportRenderer::renderToImage(report, 300.0);
    const QRect label = inkBounds(page, QRectF(90, 17, 12, 7), kFine);
    const QRect colon = inkBounds(page, QRectF((label.right() + 1) / kFine - 20.0 - 0.4, 17, 0.4, 7), kFine);
    EXPECT_NEAR(colon.bottom(), inkBounds(page, QRectF(102, 17, 11, 7), kFine).bottom(), 1);
    EXPECT_NEAR(inkBounds(page, QRectF(1, 226, 25, 8), kFine).bottom(),
                inkBounds(page, QRectF(26, 226, 137, 8), kFine).bottom(), 1);
}

TEST_F(RenderedPage, FramesShowWholeLinesOnlyAtEveryZoom)
{
    // Each frame's drawing must equal the lines that fit drawn in a frame with room to spare:
    // nothing cut through its glyphs, no partial last line.
    ReportTemplate roomy = report;
    report.find(QStringLiteral("lbImageShown"))->text = QStringLiteral("检查所见:");
    roomy.find(QStringLiteral("lbImageShown"))->text = QStringLiteral("检查所见:");
    roomy.find(QStringLiteral("lbImageShown"))->frame.setHeight(20);
    report.find(QStringLiteral("mm_sym5"))->text = QStringLiteral("第一行 line one\n2 gy\n3 gy\n4 gy\n5 gy\n6 gy");
    roomy.find(QStringLiteral("mm_sym5"))->text = QStringLiteral("第一行 line one\n2 gy\n3 gy\n4 gy");
    roomy.find(QStringLiteral("mm_sym5"))->frame.setHeight(60);
    for (const double zoom : {0.25, 0.5, 0.75, 1.0, 1.5, 2.0}) {
        const double dpi = 96.0 * zoom;
        const QImage page = ReportRenderer::renderToImage(report, dpi);
        const QImage expected = ReportRenderer::renderToImage(roomy, dpi);
        for (const QRectF &area : {QRectF(0, 33, 40, 8), QRectF(9, 163, 158, 34)}) {
            const QRect pixels =
                QRect(QPoint(qRound((20 + area.left()) * dpi / 25.4), qRound((12 + area.top()) * dpi / 25.4)),
                      QPoint(qRound((20 + area.right()) * dpi / 25.4), qRound((12 + area.bottom()) * dpi / 25.4)));
            EXPECT_EQ(page.copy(pixels), expected.copy(pixels)) << "zoom " << zoom;
        }
    }
}

// In every shipped language each label shows whole in its frame, in one of the page's fonts;
// the labels of one row stand at one size, 75 % of their own at least.
TEST_F(RenderedPage, EveryLabelShowsWholeAtItsRowsSizeInEveryLanguage)
{
    // The report's labels and the language keys whose texts they show.
    const std::pair<const char *, const char *> labels[] = {
        {"lbName", "lbName.Caption"},
        {"lbSex", "lbSex.Caption"},
        {"lbAge", "lbAge.Caption"},
        {"lbTel", "lbTel.Caption"},
        {"lbAddr", "lbAddr.Caption"},
        {"lbNumber", "lbNumber.Caption"},
        {"lbImageShown", "lbPic.Caption"},
        {"lbSymptom", "lbSypmtom.Caption"},
        {"lb_treat", "lbTreat.Caption"},
        {"lb_doctor", "lbDoctor.Caption"},
        {"lb_proposer", "lbProposer.Caption"},
        {"lbDate", "lbDate.Caption"},
    };
    const QStringList languages = TestHome::shippedLanguages();
    ASSERT_EQ(languages.size(), 10);
    for (const QString &file : languages) {
        const std::string language = file.toStdString();
        QHash<QString, QString> texts;
        const QMap<QString, QString> all = TestHome::shippedLanguageTexts(file);
        for (auto text = all.cbegin(); text != all.cend(); ++text)
            texts.insert(text.key().section(u'/', 1), text.value());
        for (const bool oneDoctor : {false, true}) {
            for (const auto &[name, key] : labels)
                report.find(QLatin1String(name))->text = texts.value(QLatin1String(key)) + u':';
            if (oneDoctor)
                report.find(QStringLiteral("lb_doctor"))->text =
                    texts.value(QStringLiteral("lbOne_doctor.Caption")) + u':';
            QString shown;
            for (const auto &[name, key] : labels)
                shown += report.find(QLatin1String(name))->text;
            EXPECT_EQ(TestHome::uncoveredCharacters(shown, ReportRenderer::fontFamilies(QStringLiteral("Arial"))),
                      QString())
                << language;
            // No ink of a label outside its frame.
            const QImage page = ReportRenderer::renderToImage(report, kDpi);
            for (const auto &[name, key] : labels) {
                const QRectF frame = report.find(QLatin1String(name))->frame;
                EXPECT_EQ(inkBounds(page, frame.adjusted(-3, -0.6, 3, 1)),
                          inkBounds(page, frame.adjusted(-0.3, -0.3, 0.3, 0.3)))
                    << language << " " << name;
            }
            // With the values beside them: each label whole on one line, ending before its value.
            QStringList values;
            for (const ReportObject &object : report.objects()) {
                if (object.name.startsWith(u"mm_"))
                    values << object.name;
            }
            for (const QString &value : values)
                report.find(value)->text = QStringLiteral("10023");
            const QList<ReportRenderer::TextPlacement> placements = ReportRenderer::layOutTexts(report);
            for (const ReportRenderer::TextPlacement &placed : placements) {
                const ReportObject *label = report.find(placed.name);
                if (values.contains(placed.name))
                    continue;
                EXPECT_GE(placed.pointSize, 0.75 * label->fontSize - 0.01)
                    << language << " " << placed.name.toStdString();
                for (const ReportRenderer::TextPlacement &other : placements) {
                    const ReportObject *neighbour = report.find(other.name);
                    if (values.contains(other.name) || qAbs(neighbour->frame.top() - label->frame.top()) >= 1)
                        continue;
                    EXPECT_DOUBLE_EQ(placed.pointSize / label->fontSize, other.pointSize / neighbour->fontSize)
                        << language << " " << placed.name.toStdString() << " beside " << other.name.toStdString();
                }
                EXPECT_TRUE(placed.whole && placed.shownText == label->text && placed.baselines.size() == 1)
                    << language << " " << placed.name.toStdString() << " shows \"" << placed.shownText.toStdString()
                    << "\" of \"" << label->text.toStdString() << "\"";
                for (const QString &value : values) {
                    const QRectF frame = report.find(value)->frame;
                    if (qAbs(frame.top() - label->frame.top()) < 1 && frame.left() > label->frame.left()) {
                        EXPECT_LT(placed.textRight, 20 + frame.left())
                            << language << " " << placed.name.toStdString() << " runs into " << value.toStdString();
                    }
                }
            }
            for (const QString &value : values)
                report.find(value)->text.clear();
        }
    }
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
    // After zooming in, the list shows the factor the page has now (not an entry of the list).
    preview.action(QStringLiteral("actZoomIn"))->trigger();
    EXPECT_EQ(zoom->currentIndex(), -1);
    EXPECT_EQ(zoom->placeholderText(), QStringLiteral("110%"));
}

} // namespace

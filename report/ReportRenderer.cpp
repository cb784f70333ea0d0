#include "report/ReportRenderer.h"

#include "report/ReportTemplate.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPen>
#include <QPrinter>
#include <QRawFont>
#include <QTextLayout>
#include <QTextOption>

#include <memory>
#include <vector>

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kMmPerPoint = kMmPerInch / 72.0;
// The layout is made in hundredths of a millimetre and only scaled to each device, so line
// breaks and positions do not follow the device's pixel grid.
constexpr double kUnitsPerMm = 100.0;
// A one-line text that is too wide for its frame shrinks, down to this share of its size; a
// label (its language file has a shorter word where it would need less) to the second.
constexpr double kSmallestShrink = 0.5;
constexpr double kSmallestLabelShrink = 0.75;
// Frames whose tops are this close (mm) form one row; their first lines share a baseline.
constexpr double kRowTolerance = 1.0;
// The least room (mm) between a text and the next text of its row.
constexpr double kRowGap = 0.5;

QFont fontFor(const QString &family, double points)
{
    QFont font;
    font.setFamilies(ReportRenderer::fontFamilies(family));
    font.setPixelSize(qMax(1, qRound(points * kMmPerPoint * kUnitsPerMm)));
    // Unhinted outlines keep the advances the same at every scale.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// The line box of the font stack: ascent and descent of the first family. The CJK fallback's
// ideographs sit inside it, so every line of every script gets the same box and baseline.
struct LineBox {
    double ascent; // units
    double descent;
    double height() const { return ascent + descent; }
};

LineBox lineBoxOf(const QString &family, double points)
{
    QFont primary = fontFor(family, points);
    primary.setFamily(ReportRenderer::fontFamilies(family).constFirst());
    const QFontMetricsF metrics(primary);
    return {metrics.ascent(), metrics.descent()};
}

// One text object laid out: its lines (in their QTextLayouts) and where their baselines go.
struct TextBlock {
    const ReportObject *object = nullptr;
    QRectF frame; // units, on the paper
    double points = 0.0;
    LineBox box{};
    double gap = 0.0; // units
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    QList<QTextLine> lines; // the lines shown, in order
    double firstBaseline = 0.0; // units
    bool whole = true;

    double lastBaseline() const { return firstBaseline + (lines.size() - 1) * (box.height() + gap); }
};

double naturalWidth(const QString &text, const QFont &font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    double width = 0.0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(1.0e6);
        width = qMax(width, line.naturalTextWidth());
    }
    layout.endLayout();
    return width;
}

QString blockText(const ReportObject &object)
{
    return QString(object.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The share of its size a text needs to fit its frame: below 1 for a one-line text too wide
// or too tall for a frame with room for one line only (labels in a longer language).
double fittingScale(const TextBlock &block)
{
    const ReportObject &object = *block.object;
    const QString text = blockText(object);
    const LineBox box = lineBoxOf(object.fontFamily, object.fontSize);
    const bool oneLineFrame = block.frame.height() < 2.0 * box.height() + object.lineGap * kUnitsPerMm;
    if (!oneLineFrame || text.contains(u'\n'))
        return 1.0;
    const double width = naturalWidth(text, fontFor(object.fontFamily, object.fontSize));
    double scale = 1.0;
    if (width > block.frame.width())
        scale = block.frame.width() / width;
    if (box.height() > block.frame.height())
        scale = qMin(scale, block.frame.height() / box.height());
    return scale;
}

// Labels are the template's objects named lb...
bool isLabel(const ReportObject &object)
{
    return object.name.startsWith(u"lb");
}

// Lays the block out at scale (from fittingScale, or its row's) of its size, never below
// kSmallestShrink (kSmallestLabelShrink for a label): a text that would need less loses its end.
void layOutBlock(TextBlock &block, double scale)
{
    const ReportObject &object = *block.object;
    const QString text = blockText(object);
    block.points = object.fontSize;
    // Rounded down a little so the shrunk text is sure to fit.
    if (scale < 1.0)
        block.points = object.fontSize * qMax(isLabel(object) ? kSmallestLabelShrink : kSmallestShrink, scale * 0.995);
    block.box = lineBoxOf(object.fontFamily, block.points);
    block.gap = object.lineGap * kUnitsPerMm;

    const QFont font = fontFor(object.fontFamily, block.points);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(object.alignment & Qt::AlignHorizontal_Mask);
    QList<QTextLine> all;
    for (const QString &paragraph : text.split(u'\n')) {
        auto layout = std::make_unique<QTextLayout>(paragraph, font);
        layout->setTextOption(option);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(block.frame.width());
            all.append(line);
        }
        layout->endLayout();
        block.layouts.push_back(std::move(layout));
    }

    // Only whole lines: as many as the frame holds, the rest is left out.
    int fitting = 0;
    const double slack = 0.01 * kUnitsPerMm;
    while (fitting < all.size()
           && (fitting + 1) * block.box.height() + fitting * block.gap <= block.frame.height() + slack)
        ++fitting;
    block.lines = all.mid(0, fitting);
    block.whole = fitting == all.size();

    const double height =
        block.lines.isEmpty() ? 0.0 : block.lines.size() * block.box.height() + (block.lines.size() - 1) * block.gap;
    double top = block.frame.top();
    if (object.alignment & Qt::AlignVCenter)
        top += (block.frame.height() - height) / 2.0;
    else if (object.alignment & Qt::AlignBottom)
        top += block.frame.height() - height;
    block.firstBaseline = top + block.box.ascent;
}

// The visible, non-empty text objects laid out, rows of labels and values on shared baselines.
std::vector<TextBlock> layOut(const ReportTemplate &report)
{
    const QPointF band(report.margins().left(), report.margins().top());
    std::vector<TextBlock> blocks;
    for (const ReportObject &object : report.objects()) {
        if (object.kind != ReportObject::Kind::Text || !object.visible || object.text.isEmpty())
            continue;
        TextBlock block;
        block.object = &object;
        QRectF mm = object.frame.translated(band);
        // A frame that reaches into (or up to) the next text of its row, as a label reaches
        // its value's frame, ends a little before that text begins.
        for (const ReportObject &other : report.objects()) {
            if (&other != &object && other.kind == ReportObject::Kind::Text && other.visible && !other.text.isEmpty()
                && qAbs(other.frame.top() - object.frame.top()) < kRowTolerance
                && other.frame.left() > object.frame.left() && other.frame.left() < object.frame.right() + kRowGap)
                mm.setRight(qMin(mm.right(), other.frame.left() + band.x() - kRowGap));
        }
        block.frame = QRectF(mm.left() * kUnitsPerMm, mm.top() * kUnitsPerMm, mm.width() * kUnitsPerMm,
                             mm.height() * kUnitsPerMm);
        blocks.push_back(std::move(block));
    }

    // The labels (objects named lb...) of one row shrink together, to the share the one that
    // needs the most needs: a row's captions stand at one size.
    std::vector<double> scales;
    for (const TextBlock &block : blocks)
        scales.push_back(fittingScale(block));
    for (size_t i = 0; i < blocks.size(); ++i) {
        double scale = scales[i];
        if (isLabel(*blocks[i].object)) {
            for (size_t j = 0; j < blocks.size(); ++j) {
                if (isLabel(*blocks[j].object)
                    && qAbs(blocks[j].frame.top() - blocks[i].frame.top()) < kRowTolerance * kUnitsPerMm)
                    scale = qMin(scale, scales[j]);
            }
        }
        layOutBlock(blocks[i], scale);
    }

    // Top-aligned objects whose frames start at the same height form a row: each first line
    // moves down to the row's lowest first baseline, as far as its frame has room.
    for (TextBlock &block : blocks) {
        if (block.lines.isEmpty() || !(block.object->alignment & Qt::AlignTop))
            continue;
        double rowBaseline = block.firstBaseline;
        for (const TextBlock &other : blocks) {
            if (!other.lines.isEmpty() && (other.object->alignment & Qt::AlignTop)
                && qAbs(other.frame.top() - block.frame.top()) < kRowTolerance * kUnitsPerMm)
                rowBaseline = qMax(rowBaseline, other.firstBaseline);
        }
        const double room = block.frame.bottom() - (block.lastBaseline() + block.box.descent);
        block.firstBaseline += qBound(0.0, rowBaseline - block.firstBaseline, qMax(0.0, room));
    }
    return blocks;
}

void drawBlock(const TextBlock &block, QPainter &painter, ReportRenderer::Text text)
{
    painter.save();
    // Horizontally the frame clips (a glyph wider than the frame); the lines shown are whole.
    painter.setClipRect(QRectF(block.frame.left(), block.frame.top() - block.box.height(), block.frame.width(),
                               block.frame.height() + 2.0 * block.box.height()));
    painter.setPen(Qt::black);
    double baseline = block.firstBaseline;
    for (QTextLine line : block.lines) {
        // Each line is placed by its baseline, whatever its fallback fonts' own ascents.
        line.setPosition(QPointF(0.0, baseline - line.ascent()));
        if (text == ReportRenderer::Text::Glyphs) {
            line.draw(&painter, QPointF(block.frame.left(), 0.0));
        } else {
            // The glyphs' outlines at the places the layout gave them.
            QPainterPath outlines;
            for (const QGlyphRun &run : line.glyphRuns()) {
                const QRawFont font = run.rawFont();
                const QList<quint32> glyphs = run.glyphIndexes();
                const QList<QPointF> places = run.positions();
                for (qsizetype i = 0; i < glyphs.size(); ++i)
                    outlines.addPath(
                        font.pathForGlyph(glyphs[i]).translated(places[i] + QPointF(block.frame.left(), 0.0)));
            }
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.fillPath(outlines, Qt::black);
        }
        baseline += block.box.height() + block.gap;
    }
    painter.restore();
}

} // namespace

namespace ReportRenderer {

QStringList fontFamilies(const QString &templateFamily)
{
    const QString cjk = QStringLiteral("Noto Sans CJK SC");
    if (templateFamily.isEmpty() || templateFamily.compare(u"Arial", Qt::CaseInsensitive) == 0)
        return {QStringLiteral("Liberation Sans"), cjk};
    return {templateFamily, cjk};
}

QList<TextPlacement> layOutTexts(const ReportTemplate &report)
{
    QList<TextPlacement> placements;
    for (const TextBlock &block : layOut(report)) {
        TextPlacement placement;
        placement.name = block.object->name;
        placement.pointSize = block.points;
        placement.lineHeight = block.box.height() / kUnitsPerMm;
        placement.whole = block.whole;
        for (const QTextLine &line : block.lines)
            placement.textRight =
                qMax(placement.textRight, (block.frame.left() + line.naturalTextRect().right()) / kUnitsPerMm);
        for (qsizetype i = 0; i < block.lines.size(); ++i)
            placement.baselines.append((block.firstBaseline + i * (block.box.height() + block.gap)) / kUnitsPerMm);
        // The shown text, paragraph by paragraph, from the layouts' own strings.
        int lineIndex = 0;
        for (const auto &layout : block.layouts) {
            for (int i = 0; i < layout->lineCount() && lineIndex < block.lines.size(); ++i, ++lineIndex) {
                const QTextLine line = layout->lineAt(i);
                placement.shownText += layout->text().mid(line.textStart(), line.textLength());
            }
        }
        placements.append(placement);
    }
    return placements;
}

void paint(const ReportTemplate &report, QPainter &painter, double dotsPerMm, Text text)
{
    const std::vector<TextBlock> blocks = layOut(report);
    const QPointF band(report.margins().left(), report.margins().top());
    painter.save();
    painter.scale(dotsPerMm / kUnitsPerMm, dotsPerMm / kUnitsPerMm);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (const ReportObject &object : report.objects()) {
        if (!object.visible || object.kind == ReportObject::Kind::Text)
            continue;
        const QRectF mm = object.frame.translated(band);
        const QRectF box(mm.left() * kUnitsPerMm, mm.top() * kUnitsPerMm, mm.width() * kUnitsPerMm,
                         mm.height() * kUnitsPerMm);
        if (object.kind == ReportObject::Kind::Picture) {
            // Pictures go to every device in the 32-bit form every paint engine takes as it is
            // (snapshots are read as 24-bit BGR).
            if (!object.picture.isNull())
                painter.drawImage(box,
                                  object.picture.format() == QImage::Format_RGB32
                                      ? object.picture
                                      : object.picture.convertToFormat(QImage::Format_RGB32));
            continue;
        }
        // The width was chosen in screen pixels (96 dpi); on paper it keeps its length, and it
        // never gets thinner than one device pixel.
        const double width = qMax(kUnitsPerMm / dotsPerMm, object.penWidth / 96.0 * kMmPerInch * kUnitsPerMm);
        QPen pen(Qt::black, width);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(QPointF(box.left(), box.top()), QPointF(box.right(), box.top()));
    }
    for (const TextBlock &block : blocks)
        drawBlock(block, painter, text);
    painter.restore();
}

QImage renderToImage(const ReportTemplate &report, double dpi)
{
    const double dotsPerMm = dpi / kMmPerInch;
    QImage image(qRound(report.pageSize().width() * dotsPerMm), qRound(report.pageSize().height() * dotsPerMm),
                 QImage::Format_RGB32);
    const int dotsPerMeter = qRound(dotsPerMm * 1000.0);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(report, painter, dotsPerMm);
    return image;
}

bool renderToDevice(const ReportTemplate &report, QPagedPaintDevice &device, Text text)
{
    // The template places everything from the paper's corner, so the device draws full page.
    if (auto *printer = dynamic_cast<QPrinter *>(&device))
        printer->setFullPage(true);
    device.setPageLayout(QPageLayout(QPageSize(report.pageSize(), QPageSize::Millimeter), QPageLayout::Portrait,
                                     QMarginsF(), QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    paint(report, painter, device.logicalDpiX() / kMmPerInch, text);
    return painter.end();
}

QByteArray renderToPdf(const ReportTemplate &report, const QString &title)
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("ExamStation"));
        writer.setResolution(1200);
        if (!renderToDevice(report, writer))
            return {};
    }
    return pdf;
}

} // namespace ReportRenderer

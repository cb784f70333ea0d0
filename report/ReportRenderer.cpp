#include "report/ReportRenderer.h"

#include "core/AppError.h"
#include "report/ReportTemplate.h"

#include <QFont>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPen>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextLayout>
#include <QTextOption>

namespace {

constexpr double kMmPerInch = 25.4;

void paintText(const ReportObject &object, QPainter &painter, const QRectF &box, double dotsPerMm)
{
    QFont font(object.fontFamily);
    // Points are 1/72 inch on paper whatever the device, so the size goes in device pixels.
    font.setPixelSize(qMax(1, qRound(object.fontSize / 72.0 * kMmPerInch * dotsPerMm)));
    const double gap = object.lineGap * dotsPerMm;

    // Lay every paragraph out with word wrap inside the frame's width.
    QList<QTextLayout *> layouts;
    double height = 0.0;
    const QStringList paragraphs =
        QString(object.text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(u'\n');
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(object.alignment & Qt::AlignHorizontal_Mask);
    bool first = true;
    for (const QString &paragraph : paragraphs) {
        auto *layout = new QTextLayout(paragraph, font, painter.device());
        layout->setTextOption(option);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(box.width());
            if (!first)
                height += gap;
            first = false;
            line.setPosition(QPointF(0.0, height));
            height += line.height();
        }
        layout->endLayout();
        layouts.append(layout);
    }

    double top = box.top();
    if (object.alignment & Qt::AlignVCenter)
        top += (box.height() - height) / 2.0;
    else if (object.alignment & Qt::AlignBottom)
        top += box.height() - height;

    painter.save();
    painter.setClipRect(box);
    painter.setPen(Qt::black);
    for (QTextLayout *layout : layouts)
        layout->draw(&painter, QPointF(box.left(), top));
    painter.restore();
    qDeleteAll(layouts);
}

} // namespace

namespace ReportRenderer {

void paint(const ReportTemplate &report, QPainter &painter, double dotsPerMm)
{
    const QPointF band(report.margins().left(), report.margins().top());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (const ReportObject &object : report.objects()) {
        if (!object.visible)
            continue;
        const QRectF mm = object.frame.translated(band);
        const QRectF box(mm.left() * dotsPerMm, mm.top() * dotsPerMm, mm.width() * dotsPerMm, mm.height() * dotsPerMm);
        switch (object.kind) {
        case ReportObject::Kind::Text:
            if (!object.text.isEmpty())
                paintText(object, painter, box, dotsPerMm);
            break;
        case ReportObject::Kind::Picture:
            if (!object.picture.isNull())
                painter.drawImage(box, object.picture);
            break;
        case ReportObject::Kind::Line: {
            // The width was chosen in screen pixels (96 dpi); on paper it keeps its length.
            const double width = qMax(1.0, object.penWidth / 96.0 * kMmPerInch * dotsPerMm);
            QPen pen(Qt::black, width);
            pen.setCapStyle(Qt::FlatCap);
            painter.setPen(pen);
            painter.drawLine(QPointF(box.left(), box.top()), QPointF(box.right(), box.top()));
            break;
        }
        }
    }
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

void renderToDevice(const ReportTemplate &report, QPagedPaintDevice &device)
{
    // The template places everything from the paper's corner, so the device draws full page.
    if (auto *printer = dynamic_cast<QPrinter *>(&device))
        printer->setFullPage(true);
    device.setPageLayout(QPageLayout(QPageSize(report.pageSize(), QPageSize::Millimeter), QPageLayout::Portrait,
                                     QMarginsF(), QPageLayout::Millimeter));
    QPainter painter(&device);
    const double dotsPerMm = device.logicalDpiX() / kMmPerInch;
    paint(report, painter, dotsPerMm);
}

void printToDefaultPrinter(const ReportTemplate &report, const QString &jobName)
{
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        throw AppError(QStringLiteral("No default printer is set up; the report was not printed."));
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setDocName(jobName);
    if (!printer.isValid())
        throw AppError(
            QStringLiteral("The printer %1 cannot be used; the report was not printed.").arg(info.printerName()));
    renderToDevice(report, printer);
}

} // namespace ReportRenderer

#pragma once

#include <QImage>
#include <QString>

class QPagedPaintDevice;
class QPainter;
class ReportTemplate;

// Lays one report page out on a painter: the paper's top-left corner at the painter's origin,
// dotsPerMm device pixels per millimetre. The same drawing serves the preview, the printer and
// pictures of the page. Window thread only.
namespace ReportRenderer {

void paint(const ReportTemplate &report, QPainter &painter, double dotsPerMm);

// The whole page on white paper at the given resolution.
QImage renderToImage(const ReportTemplate &report, double dpi);

// One page on a paged device (printer, PDF writer) whose page layout is full-page A4 or the
// template's paper; the painter begins on the device's first page.
void renderToDevice(const ReportTemplate &report, QPagedPaintDevice &device);

// Prints the page on the system's default printer without a dialog, as a job of that name.
// Throws AppError when there is no printer or the job cannot be started.
void printToDefaultPrinter(const ReportTemplate &report, const QString &jobName);

} // namespace ReportRenderer

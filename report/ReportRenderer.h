#pragma once

#include <QImage>
#include <QList>
#include <QString>

class QPagedPaintDevice;
class QPainter;
class ReportTemplate;

// Lays one report page out and draws it on a painter: the paper's top-left corner at the
// painter's origin, dotsPerMm device pixels per millimetre. The layout is made once in
// resolution-free units and only scaled to the device, so the preview at every zoom, the
// printer and pictures of the page show the same lines. Window thread only.
namespace ReportRenderer {

// Where one text object's lines went.
struct TextPlacement {
    QString name;
    double pointSize = 0.0; // after shrinking a one-line text to fit its frame (labels, the objects
                            // named lb..., to 75 % at most and with the labels of their row)
    QList<double> baselines; // mm from the paper's top edge, one per line shown
    double lineHeight = 0.0; // mm, the line box of the font stack
    QString shownText; // the text of the lines shown, without the line breaks
    double textRight = 0.0; // mm from the paper's left edge, where the longest line shown ends
    bool whole = true; // every character of the text is on a line shown
};

// The text objects' lines as paint() places them (visible, non-empty texts only).
QList<TextPlacement> layOutTexts(const ReportTemplate &report);

// The font stack of a template font name: Arial is drawn by its metric twin Liberation Sans;
// Chinese falls back to Noto Sans CJK SC.
QStringList fontFamilies(const QString &templateFamily);

// How text reaches the device: as text (selectable in a PDF), or as the glyphs' outlines, for
// devices that record drawing and lay text out again when they play it back (the preview
// window's pages), which would lose the shared baselines.
enum class Text { Glyphs, Outlines };

void paint(const ReportTemplate &report, QPainter &painter, double dotsPerMm, Text text = Text::Glyphs);

// The whole page on white paper at the given resolution.
QImage renderToImage(const ReportTemplate &report, double dpi);

// One page on a paged device (printer, PDF writer) whose page layout becomes full-page A4 or
// the template's paper; the painter begins on the device's first page. False when the device
// could not be painted on or finished (a file that cannot be written).
bool renderToDevice(const ReportTemplate &report, QPagedPaintDevice &device, Text text = Text::Glyphs);

// The page as a one-page PDF document with selectable text and the pictures at their own
// resolution, titled jobName.
QByteArray renderToPdf(const ReportTemplate &report, const QString &title);

} // namespace ReportRenderer

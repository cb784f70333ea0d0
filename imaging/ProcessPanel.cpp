#include "imaging/ProcessPanel.h"

#include "core/IniFile.h"
#include "imaging/ImageControl.h"
#include "imaging/OverlayDrag.h"
#include "imaging/imageUtils.h"
#include "imaging/untProcess.h"

#include <QLocale>
#include <QPainter>
#include <QPushButton>

#include <cmath>

namespace {

// Lines shorter than this are taken as a slip of the hand, not as a measurement.
constexpr double kMinimumMeasureLength = 6;

QFont labelFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
    return font;
}

} // namespace

ProcessPanel::ProcessPanel(TfrmProcess *panel, QWidget *container, IniFile &settings, ProcessPanelHooks hooks,
                           QObject *parent)
    : QObject(parent)
    , m_panel(panel)
    , m_container(container)
    , m_settings(settings)
    , m_hooks(std::move(hooks))
{
    m_drag = new OverlayDrag(panel->imageFront, this);
    m_drag->setMoveAllowed([this] { return measuring(); });
    m_drag->setReleaseRule([this](QPoint start, QPoint end) { imageFrontMouseUp(start, end); });

    connect(panel->btnGray, &QPushButton::clicked, this, &ProcessPanel::btnGrayClick);
    connect(panel->btnTurnLeft, &QPushButton::clicked, this, &ProcessPanel::btnTurnLeftClick);
    connect(panel->btnTurnRight, &QPushButton::clicked, this, &ProcessPanel::btnTurnRightClick);
    connect(panel->btnMline, &QPushButton::clicked, this, &ProcessPanel::btnMlineClick);
    connect(panel->btnSave, &QPushButton::clicked, this, &ProcessPanel::btnSaveClick);
    connect(panel->btnBack, &QPushButton::clicked, this, &ProcessPanel::btnBackClick);
    connect(panel->imageFront, &ImageControl::doubleClicked, this, &ProcessPanel::imageFrontDblClick);
}

bool ProcessPanel::measuring() const
{
    return m_panel->btnMline->isChecked();
}

void ProcessPanel::imgPic1DblClick(int slot, const QImage &picture, QSize captureSize)
{
    if (picture.isNull() || slot < 1 || slot > 4)
        return;
    // Measuring and the turns work on 24-bit pixels; a copy of any other kind is converted.
    m_panel->imgBack->setPicture(picture.depth() == 24 ? picture.copy()
                                                       : picture.convertToFormat(QImage::Format_BGR888));
    m_panel->imgBack->setTag(slot);
    LayoutProcessImages();
    m_panelScale = ComputePanelScale(captureSize);
    m_measurements = m_hooks.slotMeasurements ? m_hooks.slotMeasurements(slot) : Measurements{};
    // A picture that cannot be measured must not inherit a measuring mode left on by the
    // previous one: every line would be labelled 0mm.
    if (measuring() && !(m_panelScale > 0)) {
        m_panel->btnMline->setChecked(false);
        setDefaultPointer();
    }
    m_container->show();
}

void ProcessPanel::btnGrayClick()
{
    QImage working = m_panel->imgBack->picture().copy();
    if (working.isNull())
        return;
    GrayBitmap(working);
    m_panel->imgBack->setPicture(working);
}

void ProcessPanel::btnTurnLeftClick()
{
    if (m_panel->imgBack->picture().isNull())
        return;
    turnMeasurements(false);
    TurnBitmapLeft(m_panel->imgBack->canvas());
    LayoutProcessImages();
}

void ProcessPanel::btnTurnRightClick()
{
    if (m_panel->imgBack->picture().isNull())
        return;
    turnMeasurements(true);
    TurnBitmapRight(m_panel->imgBack->canvas());
    LayoutProcessImages();
}

void ProcessPanel::LayoutProcessImages()
{
    const QSize size = m_panel->imgBack->picture().size();
    const int w = size.width();
    const int h = size.height();
    // An upright picture is centred on where the landscape one stood (integer division
    // truncates toward zero, as the placement of a turned 640 x 480 picture at (80, -80) needs).
    const QPoint topLeft = w > h ? QPoint(1, 1) : QPoint((h - w) / 2, (w - h) / 2);
    const QRect area(topLeft, size);
    m_panel->imgBack->setGeometry(area);
    m_panel->imgBack->update();
    OverlayDrag::clearOverlay(m_panel->imageFront, size);
    m_panel->imageFront->setGeometry(area);
}

void ProcessPanel::btnMlineClick()
{
    if (!m_panel->btnMline->isChecked()) {
        setDefaultPointer();
        return;
    }
    OverlayDrag::clearOverlay(m_panel->imageFront, m_panel->imgBack->picture().size());
    m_panel->imageFront->setCursor(m_hooks.crossCursor ? m_hooks.crossCursor() : QCursor(Qt::CrossCursor));
    if (!(m_panelScale > 0)) {
        m_panel->btnMline->setChecked(false);
        setDefaultPointer();
    }
}

void ProcessPanel::imageFrontMouseUp(QPoint start, QPoint end)
{
    if (!measuring())
        return;
    const double d = OverlayDrag::distance(start, end);
    if (d < kMinimumMeasureLength)
        return;
    QImage &picture = m_panel->imgBack->canvas();
    OverlayDrag::clearOverlay(m_panel->imageFront, picture.size());
    if (picture.isNull())
        return;
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
        painter.drawLine(start, end);
        painter.setFont(labelFont());
        painter.setBackgroundMode(Qt::TransparentMode);
        painter.drawText(QRect(end, QSize(1000, 100)), Qt::AlignLeft | Qt::AlignTop, lengthLabel(d, m_panelScale));
    }
    m_panel->imgBack->update();
    Measurement measured = m_calibration;
    measured.slot = m_panel->imgBack->tag();
    measured.start = start;
    measured.end = end;
    measured.lengthMm = d * m_panelScale;
    m_measurements.append(measured);
}

void ProcessPanel::turnMeasurements(bool right)
{
    // The lines turn with the pixels they were drawn on.
    const QSize size = m_panel->imgBack->picture().size();
    for (Measurement &measurement : m_measurements)
        measurement = measurement.turned(right, size);
}

QString ProcessPanel::lengthLabel(double pixels, double scale)
{
    // Four decimals at most, halves rounded to the even neighbour (the default rounding mode).
    const double v = std::nearbyint(pixels * scale * 10000) / 10000;
    QString text = IniFile::formatFloat(v);
    text.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return text + QStringLiteral("mm");
}

double ProcessPanel::ComputePanelScale(QSize captureSize)
{
    const QString section = QStringLiteral("measure");
    const double ratio = m_settings.readFloat(section, QStringLiteral("ratio"), 0.1);
    const int height = m_settings.readInteger(section, QStringLiteral("height"), 480);
    const bool useNew = m_settings.readBool(section, QStringLiteral("usenew"), true);
    const int y = captureSize.height();
    m_calibration = {};
    if (y < 1)
        return 0;
    if (useNew || captureSize.width() > 0) {
        m_calibration = {.mmPerPixel = height * ratio / y,
                         .calibrationRatio = ratio,
                         .calibrationHeight = height,
                         .method = Measurement::kKnownLength};
        return m_calibration.mmPerPixel;
    }
    const double rh = m_hooks.reloadedRealHeight ? m_hooks.reloadedRealHeight() : 0;
    m_calibration = {.mmPerPixel = rh / y, .calibrationHeight = y, .method = Measurement::kRecordHeight};
    return rh / y;
}

void ProcessPanel::KeepProcessedPicture()
{
    const QImage &picture = m_panel->imgBack->picture();
    if (!picture.isNull() && m_hooks.keepPicture)
        m_hooks.keepPicture(m_panel->imgBack->tag(), picture.copy());
    if (!picture.isNull() && m_hooks.keepMeasurements)
        m_hooks.keepMeasurements(m_panel->imgBack->tag(), m_measurements);
    CloseProcessPanel();
}

void ProcessPanel::CloseProcessPanel()
{
    m_panel->btnMline->setChecked(false);
    m_container->hide();
    setDefaultPointer();
}

void ProcessPanel::setDefaultPointer()
{
    m_panel->imageFront->setCursor(Qt::ArrowCursor);
}

#include "imaging/Calibration.h"

#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/IniFile.h"
#include "imaging/ImageControl.h"
#include "imaging/OverlayDrag.h"
#include "imaging/untMeasure.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

#include <cmath>

namespace {

// A calibration line shorter than this is too imprecise to calibrate with.
constexpr double kMinimumCalibrationLength = 20;
const QSize kLiveOverlaySize(640, 480);

} // namespace

Calibration::Calibration(const CalibrationControls &controls, IniFile &settings, CalibrationHooks hooks,
                         QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_settings(settings)
    , m_hooks(std::move(hooks))
{
    m_drag = new OverlayDrag(controls.imageFront, this);
    m_drag->setReleaseRule([this](QPoint start, QPoint end) { imageFrontMouseUp(start, end); });
    connect(controls.btnCalibration, &QAbstractButton::clicked, this, &Calibration::btnCalibrationClick);
}

void Calibration::btnCalibrationClick()
{
    if (!m_controls.btnCalibration->isChecked()) {
        leaveCalibrationMode();
        return;
    }
    m_controls.imageFront->raise();
    if (m_hooks.graphRunning && m_hooks.graphRunning() && m_hooks.pauseGraph)
        m_hooks.pauseGraph();
    m_controls.imageFront->setCursor(m_hooks.crossCursor ? m_hooks.crossCursor() : QCursor(Qt::CrossCursor));
    if (m_controls.TrackBar1)
        m_controls.TrackBar1->setEnabled(false);
}

void Calibration::leaveCalibrationMode()
{
    m_controls.btnCalibration->setChecked(false);
    if (m_controls.Imagemovie)
        m_controls.imageFront->stackUnder(m_controls.Imagemovie);
    if (m_controls.TrackBar1)
        m_controls.TrackBar1->setEnabled(true);
    m_controls.imageFront->setCursor(Qt::ArrowCursor);
}

void Calibration::imageFrontMouseUp(QPoint start, QPoint end)
{
    if (!m_controls.btnCalibration->isChecked())
        return;
    const double d = OverlayDrag::distance(start, end);
    if (d < kMinimumCalibrationLength)
        return;
    leaveCalibrationMode();
    // Runs from a mouse event: a failure ends here in the error box, not in the event loop.
    ErrorDisplay::guarded([&] { runDialog(d); });
}

void Calibration::runDialog(double pixels)
{
    TfrmMeasure dialog(m_hooks.dialogParent);
    if (m_hooks.text) {
        // A language without these keys keeps the built-in texts rather than blank buttons.
        auto apply = [&](const QString &key, auto &&set) {
            const QString value = m_hooks.text(key);
            if (!value.isEmpty())
                set(value);
        };
        apply(QStringLiteral("frmMeasure.Caption"), [&](const QString &v) { dialog.setWindowTitle(v); });
        apply(QStringLiteral("lbRealLength.Caption"), [&](const QString &v) { dialog.lbRealLength->setText(v); });
        apply(QStringLiteral("OK.Caption"), [&](const QString &v) { dialog.btnOK->setText(v); });
        apply(QStringLiteral("Cancel.Caption"), [&](const QString &v) { dialog.btnCancel->setText(v); });
    }
    if (Dialogs::exec(dialog) == QDialog::Accepted) {
        // A length that does not convert throws before anything is stored; the overlay keeps
        // its line so the operator sees what was drawn.
        const double length = realLength(dialog.edtRealLength->text());
        const int height = m_hooks.captureHeight ? m_hooks.captureHeight() : 0;
        storeCalibration(length / pixels, height);
        if (m_hooks.calibrationFinished)
            m_hooks.calibrationFinished();
    }
    OverlayDrag::clearOverlay(m_controls.imageFront, kLiveOverlaySize);
}

double Calibration::realLength(const QString &text)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double value = QLocale().toDouble(trimmed, &ok);
    if (!ok)
        value = QLocale::c().toDouble(trimmed, &ok);
    // A negative or endless length would store a calibration that measures nonsense.
    if (!ok || !std::isfinite(value) || value < 0)
        throw AppError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

void Calibration::storeCalibration(double ratio, int height)
{
    const QString section = QStringLiteral("measure");
    const QString ratioKey = QStringLiteral("ratio");
    const QString heightKey = QStringLiteral("height");
    // Both keys in one write, so no reader ever sees a ratio paired with another height.
    QStringList lines = m_settings.readSection(section);
    bool ratioDone = false;
    bool heightDone = false;
    for (QString &line : lines) {
        const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
        if (!line.contains(QLatin1Char('=')))
            continue;
        if (key.compare(ratioKey, Qt::CaseInsensitive) == 0) {
            line = ratioKey + QLatin1Char('=') + IniFile::formatFloat(ratio);
            ratioDone = true;
        } else if (key.compare(heightKey, Qt::CaseInsensitive) == 0) {
            line = heightKey + QLatin1Char('=') + QString::number(height);
            heightDone = true;
        }
    }
    if (!ratioDone)
        lines.append(ratioKey + QLatin1Char('=') + IniFile::formatFloat(ratio));
    if (!heightDone)
        lines.append(heightKey + QLatin1Char('=') + QString::number(height));
    m_settings.replaceSection(section, lines);
}

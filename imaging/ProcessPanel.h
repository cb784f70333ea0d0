#pragma once

#include "core/Measurement.h"

#include <QCursor>
#include <QImage>
#include <QObject>
#include <QSize>

#include <functional>

class IniFile;
class OverlayDrag;
class TfrmProcess;
class QWidget;

// What the processing panel needs from the rest of the window.
struct ProcessPanelHooks {
    // Puts the kept picture into slot 1..4 (the picture only; file name and capture size stay).
    std::function<void(int slot, const QImage &picture)> keepPicture;
    // rh of the examination record last reloaded; 0 when none was reloaded since start.
    std::function<double()> reloadedRealHeight;
    // The white crosshair of the measuring overlays.
    std::function<QCursor()> crossCursor;
    // The lengths measured before on the slot's picture, and all of them when it is kept.
    std::function<Measurements(int slot)> slotMeasurements;
    std::function<void(int slot, const Measurements &measurements)> keepMeasurements;
};

// The operations of the image processing panel TfrmProcess: opening a slot's picture, greying,
// turning, measuring lines in millimetres, keeping the result or going back. Connects the
// panel's own buttons and overlay itself. Window thread only.
class ProcessPanel : public QObject {
    Q_OBJECT

public:
    // container: plProcessContainter, shown while a picture is open.
    ProcessPanel(TfrmProcess *panel, QWidget *container, IniFile &settings, ProcessPanelHooks hooks,
                 QObject *parent = nullptr);

    // A double-click on slot 1..4 holding a picture (PictureSlots::slotDoubleClicked).
    void imgPic1DblClick(int slot, const QImage &picture, QSize captureSize);
    void btnGrayClick();
    void btnTurnLeftClick();
    void btnTurnRightClick();
    void btnMlineClick();
    void imageFrontDblClick() { KeepProcessedPicture(); }
    void btnSaveClick() { KeepProcessedPicture(); }
    void btnBackClick() { CloseProcessPanel(); }

    void KeepProcessedPicture();
    void CloseProcessPanel();
    void LayoutProcessImages();

    // Millimetres per pixel of a picture of that slot capture size under the calibration
    // stored now; 0 when it cannot be measured.
    double ComputePanelScale(QSize captureSize);

    // The text a measured line is labelled with, for example "12.3457mm".
    static QString lengthLabel(double pixels, double scale);

    double panelScale() const { return m_panelScale; }
    // The lines measured on the open picture (those kept before included), in its pixels.
    const Measurements &measurements() const { return m_measurements; }
    bool measuring() const;
    OverlayDrag *drag() const { return m_drag; }

private:
    void imageFrontMouseUp(QPoint start, QPoint end);
    void setDefaultPointer();
    void turnMeasurements(bool right);

    TfrmProcess *m_panel;
    QWidget *m_container;
    IniFile &m_settings;
    ProcessPanelHooks m_hooks;
    OverlayDrag *m_drag = nullptr;
    double m_panelScale = 0;
    Measurement m_calibration; // the open picture's calibration, without a line
    Measurements m_measurements;
};

#pragma once

#include <QCursor>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

class ImageControl;
class IniFile;
class OverlayDrag;
class QAbstractButton;
class QWidget;

// The controls of the main window that calibrating works on.
struct CalibrationControls {
    ImageControl *imageFront = nullptr; // the live overlay, 640 x 480
    QWidget *Imagemovie = nullptr; // the live picture the overlay lies behind
    QAbstractButton *btnCalibration = nullptr; // checkable
    QWidget *TrackBar1 = nullptr; // the capture-size slider
};

// What calibrating needs from capture, language and the window.
struct CalibrationHooks {
    std::function<bool()> graphRunning; // the capture graph runs
    std::function<void()> pauseGraph;
    std::function<int()> captureHeight; // the current capture height in pixels
    std::function<QCursor()> crossCursor; // the white crosshair
    std::function<QString(const QString &key)> text; // language texts by key
    std::function<void()> calibrationFinished; // shows Msg_Cali_Finished
    QWidget *dialogParent = nullptr;
};

// Calibration on the live picture: with btnCalibration down the operator draws a line over an
// object of known size, types its real length in TfrmMeasure, and the millimetres per pixel
// and the capture height are stored in system.ini [measure]. Window thread only.
class Calibration : public QObject {
    Q_OBJECT

public:
    Calibration(const CalibrationControls &controls, IniFile &settings, CalibrationHooks hooks,
                QObject *parent = nullptr);

    // The toggle went down or up (connected to its clicked signal).
    void btnCalibrationClick();

    // The typed real length in millimetres. Throws AppError for a text that is no number, or
    // a negative or endless one.
    static double realLength(const QString &text);
    // Writes ratio and height to [measure] in one write of system.ini.
    void storeCalibration(double ratio, int height);

    OverlayDrag *drag() const { return m_drag; }

private:
    void imageFrontMouseUp(QPoint start, QPoint end);
    void leaveCalibrationMode();
    void runDialog(double pixels);

    CalibrationControls m_controls;
    IniFile &m_settings;
    CalibrationHooks m_hooks;
    OverlayDrag *m_drag = nullptr;
};

#pragma once

#include "capture/CameraSource.h"
#include "capture/CaptureDevice.h"
#include "capture/CaptureSizes.h"
#include "capture/GstHandles.h"
#include "capture/MediaType.h"
#include "capture/PreviewSink.h"
#include "capture/Recording.h"

#include <QDateTime>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class BusWatch;
class CameraSettings;
class DeviceMonitor;
class IniFile;
class LivePicture;
class LivePictureView;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class StillButton;

// The state of the capture graph as its pipeline reports it without waiting.
enum class GraphState { NotInitialised, Stopped, Paused, Running };

// The controls of the live picture area the capture graph works on; all owned by the window.
struct CaptureControls {
    LivePictureView *Imagemovie = nullptr;
    QSlider *TrackBar1 = nullptr;
    QLabel *lbResolution = nullptr;
    QPushButton *btnRecord = nullptr;
    QLineEdit *edtNumber = nullptr; // the patient number names recordings
    QWidget *owner = nullptr; // the main window: owner of the settings dialog and boxes
};

// The capture graph, the session that joins the pieces: it chooses the camera (CaptureDevice,
// DeviceMonitor), builds and runs the GStreamer pipeline (source, chosen media type, decoder,
// tee, the preview's PreviewSink, the Recording's branch), watches its bus (BusWatch), keeps the
// capture sizes (CaptureSizes) and reacts to a camera that goes away and comes back. Operations
// run on the window thread; the frame and still-button reactions run on streaming threads and
// touch only the two locked bitmaps and atomics.
class CaptureGraph : public QObject {
    Q_OBJECT

public:
    CaptureGraph(const CaptureControls &controls, IniFile &iniFile, QObject *parent = nullptr);
    ~CaptureGraph() override;

    // Camera choice and the live preview.
    void actPreviewExecute();
    void actStopExecute();
    void SelectCaptureDevice();
    void BuildCaptureGraph();
    void run();
    void pause();
    void stop();
    GraphState graphState() const;
    bool deviceReady() const { return m_deviceReady; }
    QString deviceName() const;
    void btnCameraPropClick();

    // The camera went away (unplugged, or its stream failed) and has not come back yet: the
    // live picture shows the "no camera" picture and snapshots are refused. The preview
    // restarts by itself when a camera appears.
    bool cameraLost() const { return m_cameraLost; }

    // Capture sizes.
    const MediaTypeList &mediaTypes() const { return m_mediaTypes; }
    const TmmStringlist &catalogue() const { return m_sizes.catalogue(); }
    quint16 mediaTypeIndex() const { return m_mediaTypeIndex; }
    QSize captureSize() const { return m_captureSize; }
    void ShowResolutionText() { m_sizes.ShowResolutionText(); }
    void SetResolutionPosition(int position) { m_sizes.SetResolutionPosition(position); }
    void TrackBar1Change();

    // Frames and the live picture.
    // Preview streaming thread. Returns true when the frame reached the live picture.
    bool SampleGrabberBuffer(GstSample *sample) { return m_preview.SampleGrabberBuffer(sample); }
    void SampleGrabber1Buffer(); // still-button thread
    void ImagemovieClick();
    void ImagemovieMouseUp(Qt::MouseButton button);
    GraphState rememberedGraphState() const { return m_rememberedGraphState; }
    LivePicture &livePicture();
    bool hasStillOutput() const { return m_stillButton != nullptr; }
    // (Re)opens the snapshot trigger of config.ini's [trigger] section (a foot switch); its
    // presses come out as snapshotRequested like the camera's button. Done at construction.
    void openFootSwitch();
    void setFrameObserver(std::function<void(qint64 latencyNs)> observer)
    {
        m_preview.setFrameObserver(std::move(observer));
    }

    // Recording (Recording holds the branch and the file).
    void btnRecordClick();
    void btnOpenVideoClick();
    bool recording() const { return m_recording.on(); }
    // The file the running graph records into; empty when it records nothing.
    QString recordingFile() const { return m_recording.file(); }
    void updateRecordCaption() { m_recording.updateRecordCaption(); }
    // Language lookup of a caption key; without one the built-in caption is used.
    void setCaptionLookup(std::function<QString(const QString &key, const QString &builtIn)> lookup);
    void setVideoFolder(const QString &folder) { m_recording.setVideoFolder(folder); }
    QString videoFolder() const { return m_recording.videoFolder(); }
    static QString RecordingFileName(const QString &folder, const QString &patientNumber, const QDateTime &when,
                                     Recording::Format format = Recording::Format::Wmv)
    {
        return Recording::RecordingFileName(folder, patientNumber, when, format);
    }

signals:
    // One per press of the camera's snapshot button, on the window thread.
    void snapshotRequested();
    // An MP4 recording is complete in `file` (its index written), named after `patientNumber`;
    // on the window thread, after the operation that ended it.
    void mp4RecordingFinished(const QString &file, const QString &patientNumber);

private:
    struct BuildStopped { };

    QString caption(const QString &key, const QString &builtIn) const;
    void makeActive();
    void makeInactive();
    void onBusMessage(GstMessage *message, quint64 generation);
    void setState(GstState target, bool waitForChange);

    void loseCamera();
    void completeLoss();
    void tryRestart();
    void applyStoredSettings();

    void renderStreams();

    CaptureControls m_controls;
    std::function<QString(const QString &, const QString &)> m_captionLookup;

    // window thread only
    CaptureDeviceList m_devices;
    std::shared_ptr<CaptureDevice> m_device;
    bool m_deviceReady = false;
    GstElementHandle m_pipeline; // null while the graph is inactive
    CameraSource m_camera;
    GstElement *m_tee = nullptr; // owned by m_pipeline
    GstElement *m_sampleGrabber = nullptr; // owned by m_pipeline
    std::unique_ptr<BusWatch> m_bus;
    quint64 m_generation = 0; // counts the pipelines, so a late message of an old one is dropped
    std::unique_ptr<StillButton> m_stillButton;
    std::unique_ptr<StillButton> m_footSwitch; // lives as long as the graph, through restarts
    CaptureSizes m_sizes;
    MediaTypeList m_mediaTypes;
    quint16 m_mediaTypeIndex = 0;
    QSize m_captureSize{0, 0};
    GraphState m_rememberedGraphState = GraphState::NotInitialised;
    Recording m_recording;
    QString m_lastBusError;
    int m_lastBusErrorCode = 0;
    std::unique_ptr<DeviceMonitor> m_deviceMonitor;
    std::unique_ptr<CameraSettings> m_cameraSettings;
    bool m_cameraLost = false;
    bool m_losing = false; // gone; the recording's end of stream is on its way to the file
    QTimer m_lossTimer; // bounds the wait for the recording's end when the camera went away

    PreviewSink m_preview; // its callback runs on the preview streaming thread
};

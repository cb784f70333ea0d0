#pragma once

#include "capture/CaptureDevice.h"
#include "capture/GstHandles.h"
#include "capture/MediaType.h"
#include "capture/untmmStringlist.h"

#include <QDateTime>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

typedef struct _GstAppSink GstAppSink;
class IniFile;
class LivePicture;
class LivePictureView;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSocketNotifier;
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

// The capture graph: chooses the camera, builds and runs the GStreamer pipeline (source, chosen
// media type, decoder, tee, preview appsink, recording branch), keeps the resolution catalogue
// and turns camera frames into the live picture. Operations run on the window thread; the
// frame and still-button reactions run on streaming threads and touch only the two locked
// bitmaps and atomics.
class CameraSettings;
class DeviceMonitor;

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
    const TmmStringlist &catalogue() const { return m_catalogue; }
    quint16 mediaTypeIndex() const { return m_mediaTypeIndex; }
    QSize captureSize() const { return m_captureSize; }
    void ShowResolutionText();
    void SetResolutionPosition(int position);
    void TrackBar1Change();

    // Frames and the live picture.
    // Preview streaming thread. Returns true when the frame reached the live picture.
    bool SampleGrabberBuffer(GstSample *sample);
    void SampleGrabber1Buffer(); // still-button thread
    void ImagemovieClick();
    void ImagemovieMouseUp(Qt::MouseButton button);
    GraphState rememberedGraphState() const { return m_rememberedGraphState; }
    LivePicture &livePicture();
    bool hasStillOutput() const { return m_stillButton != nullptr; }
    // (Re)opens the snapshot trigger of config.ini's [trigger] section (a foot switch); its
    // presses come out as snapshotRequested like the camera's button. Done at construction.
    void openFootSwitch();
    // Measurement seam (benchmarks): called on the streaming thread after each frame reached
    // the live picture, with the time from the frame's capture to now. Set before a start.
    void setFrameObserver(std::function<void(qint64 latencyNs)> observer) { m_frameObserver = std::move(observer); }

    // Recording.
    void btnRecordClick();
    void btnOpenVideoClick();
    bool recording() const { return m_recording; }
    // The file the running graph records into; empty when it records nothing.
    QString recordingFile() const { return m_recordingFile; }
    // Sets the record button's caption by the recording flag (also after a language change).
    void updateRecordCaption();
    // Language lookup of a caption key; without one the built-in caption is used.
    void setCaptionLookup(std::function<QString(const QString &key, const QString &builtIn)> lookup)
    {
        m_captionLookup = std::move(lookup);
    }
    // The video folder (ends in "/"); the program's video/ folder unless set.
    void setVideoFolder(const QString &folder) { m_videoFolder = folder; }
    QString videoFolder() const;

    // "<number>_yyyyMMdd_HHmmss.wmv" in `folder` ("yyyyMMdd_HHmmss.wmv" without a number); a name
    // already taken gets "_2", "_3", ... so no recording overwrites an earlier one.
    static QString RecordingFileName(const QString &folder, const QString &patientNumber, const QDateTime &when);

    // Builds the encoding part of the recording branch into `writer` (a bin): 640 x 480 at
    // `fps`, WMV1 at 1,000,000 bit/s, a key frame at least every 5 s, ASF container. A step that
    // fails shows its message and gives back its code; 0 on success.
    int ConfigureRecordingProfile(GstElement *writer, int width, int height, int fps);

signals:
    // One per press of the camera's snapshot button, on the window thread.
    void snapshotRequested();

private:
    struct BuildStopped { };

    // The appsink's new-sample callback (preview streaming thread): SampleGrabberBuffer, then
    // the frame observer.
    static GstFlowReturn onPreviewSample(GstAppSink *sink, gpointer owner);

    void makeActive();
    void makeInactive();
    void watchBus();
    void drainBus(quint64 generation);
    void finishRecording();
    void setState(GstState target, bool waitForChange);

    void loseCamera();
    void tryRestart();
    void endRecordingWithoutSource();
    void showNoCameraPicture();
    void applyStoredSettings();

    void buildAndChoose();
    void applyMediaType(quint16 index);
    void renderStreams();
    void recordingBranch();
    GstElementHandle makeSampleGrabber();

    CaptureControls m_controls;
    IniFile &m_iniFile;
    std::function<QString(const QString &, const QString &)> m_captionLookup;
    QString m_videoFolder;

    // window thread only
    CaptureDeviceList m_devices;
    std::shared_ptr<CaptureDevice> m_device;
    bool m_deviceReady = false;
    GstElementHandle m_pipeline; // null while the graph is inactive
    GstElement *m_source = nullptr; // owned by m_pipeline
    GstElement *m_tee = nullptr; // owned by m_pipeline
    GstElement *m_sampleGrabber = nullptr; // owned by m_pipeline
    GstElement *m_writer = nullptr; // owned by m_pipeline; recording branch
    std::unique_ptr<StillButton> m_stillButton;
    std::unique_ptr<StillButton> m_footSwitch; // lives as long as the graph, through restarts
    std::unique_ptr<QSocketNotifier> m_busNotifier;
    quint64 m_generation = 0;
    MediaTypeList m_mediaTypes;
    TmmStringlist m_catalogue;
    quint16 m_mediaTypeIndex = 0;
    QSize m_captureSize{0, 0};
    int m_rememberedPosition = 1;
    GraphState m_rememberedGraphState = GraphState::NotInitialised;
    bool m_recording = false;
    QString m_recordingFile;
    QString m_lastBusError;
    int m_lastBusErrorCode = 0;
    std::unique_ptr<DeviceMonitor> m_deviceMonitor;
    std::unique_ptr<CameraSettings> m_cameraSettings;
    bool m_cameraLost = false;
    QTimer m_replugTimer; // while the camera is lost: looks for it again

    // set by the recording's file sink (streaming thread) when the end of stream reached it
    std::atomic<bool> m_recordingEnded{false};

    std::function<void(qint64)> m_frameObserver; // read by the streaming thread, set while stopped

    // streaming thread only (under m_frameMutex): the frame bitmap's size
    std::mutex m_frameMutex;
    QSize m_frameSize;
};

#include "capture/CaptureGraph.h"

#include "capture/BusWatch.h"
#include "capture/CameraPropDialog.h"
#include "capture/CameraSettings.h"
#include "capture/DeviceMonitor.h"
#include "capture/FootSwitch.h"
#include "capture/LivePictureView.h"
#include "capture/Logging.h"
#include "capture/StillButton.h"
#include "core/AppError.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

#include <QDesktopServices>
#include <QUrl>

#include <tuple>

namespace {

// How long a stop waits for the end of a recording to travel through the muxer, and how long a
// camera that went away waits for it before the graph goes.
constexpr GstClockTime kFinishTimeout = 10 * GST_SECOND;

GraphState stateOf(GstState state)
{
    switch (state) {
    case GST_STATE_READY:
        return GraphState::Stopped;
    case GST_STATE_PAUSED:
        return GraphState::Paused;
    case GST_STATE_PLAYING:
        return GraphState::Running;
    default:
        return GraphState::NotInitialised;
    }
}

} // namespace

CaptureGraph::CaptureGraph(const CaptureControls &controls, IniFile &iniFile, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_sizes(controls.TrackBar1, controls.lbResolution, iniFile)
    , m_recording(controls.btnRecord, controls.edtNumber, controls.owner)
    , m_preview(controls.Imagemovie->picture())
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    m_cameraSettings = std::make_unique<CameraSettings>(ProgramFolder::file(QStringLiteral("cameras.ini")));
    m_deviceMonitor = std::make_unique<DeviceMonitor>();
    connect(m_deviceMonitor.get(), &DeviceMonitor::deviceRemoved, this, [this](const QString &path) {
        if (!m_cameraLost && m_pipeline && m_device && path == m_device->path())
            loseCamera();
    });
    connect(m_deviceMonitor.get(), &DeviceMonitor::cameraBack, this, &CaptureGraph::tryRestart);
    m_lossTimer.setSingleShot(true);
    m_lossTimer.setInterval(int(kFinishTimeout / GST_MSECOND));
    connect(&m_lossTimer, &QTimer::timeout, this, [this] {
        qCWarning(lcCapture) << "the recording" << m_recording.file() << "did not finish in time";
        completeLoss();
    });
    openFootSwitch();
}

void CaptureGraph::openFootSwitch()
{
    m_footSwitch.reset();
    m_footSwitch = FootSwitch::open([this] { SampleGrabber1Buffer(); });
}

CaptureGraph::~CaptureGraph()
{
    // The window stops the graph at close; this only covers an early end. Nothing may be
    // thrown out of a destructor, and a recording still gets its end.
    m_footSwitch.reset();
    m_losing = false; // no "no camera" picture for a window that is going
    try {
        actStopExecute();
    } catch (const std::exception &) {
        makeInactive();
    }
}

LivePicture &CaptureGraph::livePicture()
{
    return m_controls.Imagemovie->picture();
}

QString CaptureGraph::deviceName() const
{
    return m_device ? m_device->name() : QString();
}

QString CaptureGraph::caption(const QString &key, const QString &builtIn) const
{
    return m_captionLookup ? m_captionLookup(key, builtIn) : builtIn;
}

void CaptureGraph::setCaptionLookup(std::function<QString(const QString &, const QString &)> lookup)
{
    m_captionLookup = lookup;
    m_recording.setCaptionLookup(std::move(lookup));
}

// ---- the preview -------------------------------------------------------------------------

void CaptureGraph::actPreviewExecute()
{
    actStopExecute();
    SelectCaptureDevice();
    // A lost camera that is not back yet: the "no camera" picture stays.
    if (m_cameraLost && m_devices.isEmpty())
        return;
    m_cameraLost = false;
    m_deviceMonitor->stopAwaiting();
    if (m_deviceReady) {
        BuildCaptureGraph();
        run();
        applyStoredSettings();
    }
}

void CaptureGraph::actStopExecute()
{
    if (m_pipeline)
        stop();
    if (m_losing)
        completeLoss();
    else
        makeInactive();
}

void CaptureGraph::SelectCaptureDevice()
{
    m_devices = ListVideoInputDevices();
    if (m_devices.isEmpty())
        return;
    const int camindex =
        toInteger(ReadConfigString(QStringLiteral("system"), QStringLiteral("camindex"), QStringLiteral("0")));
    // Beyond the last camera, or negative: the first, so a removed camera never leaves the
    // picture dark.
    const int chosen = (camindex > m_devices.size() - 1 || camindex < 0) ? 0 : camindex;
    m_device = m_devices[chosen];
    makeActive();
    m_deviceReady = true;
}

void CaptureGraph::makeActive()
{
    if (m_pipeline)
        return;
    GstElementHandle pipeline = gstSink(gst_pipeline_new("FilterGraph"));
    GstElementHandle grabber = m_preview.make();
    GstElement *added = pipeline && grabber ? gstAdd(GST_BIN(pipeline.get()), std::move(grabber)) : nullptr;
    if (!added)
        throw AppError(QStringLiteral("The capture graph for \"%1\" cannot be created").arg(deviceName()));
    m_sampleGrabber = added;
    m_pipeline = std::move(pipeline);
    const quint64 generation = ++m_generation;
    GstBusHandle bus(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    m_bus = std::make_unique<BusWatch>(bus.get(),
                                       [this, generation](GstMessage *message) { onBusMessage(message, generation); });
    m_deviceMonitor->start();
}

void CaptureGraph::makeInactive()
{
    // The snapshot button's thread ends first: it must not call into a graph being released.
    m_stillButton.reset();
    m_bus.reset();
    ++m_generation;
    if (m_pipeline) {
        // NULL joins every streaming thread, so no frame reaction runs after this line.
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_pipeline.reset();
    }
    m_tee = m_sampleGrabber = nullptr;
    m_camera.clear();
    m_recording.detach();
}

void CaptureGraph::onBusMessage(GstMessage *message, quint64 generation)
{
    // A message of a pipeline that was already torn down has nothing to say to this one.
    // Tearing down happens queued: the bus watch must not be deleted inside its own delivery.
    if (generation != m_generation || !m_pipeline)
        return;
    auto queued = [this, generation](void (CaptureGraph::*step)()) {
        QMetaObject::invokeMethod(
            this,
            [this, generation, step] {
                if (generation == m_generation)
                    (this->*step)();
            },
            Qt::QueuedConnection);
    };
    if (m_recording.handleMessage(message)) {
        // Told after the stop or loss that is waiting for this message has finished.
        if (m_recording.format() == Recording::Format::Mp4) {
            QMetaObject::invokeMethod(
                this,
                [this, file = m_recording.file(), number = m_recording.patientNumber()] {
                    emit mp4RecordingFinished(file, number);
                },
                Qt::QueuedConnection);
        }
        if (m_losing)
            queued(&CaptureGraph::completeLoss);
        return;
    }
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return;
    // The last error explains a later failure to run.
    std::tie(m_lastBusError, m_lastBusErrorCode) = BusWatch::errorOf(message);
    qCWarning(lcCapture) << "pipeline error:" << m_lastBusError;
    // An error of the camera's own source is a camera that went away (a pulled cable gives
    // a read error before the device monitor has noticed).
    if (m_camera.sent(message))
        queued(&CaptureGraph::loseCamera);
}

void CaptureGraph::setState(GstState target, bool waitForChange)
{
    if (!m_pipeline)
        return;
    GstStateChangeReturn result = gst_element_set_state(m_pipeline.get(), target);
    if (result == GST_STATE_CHANGE_ASYNC && waitForChange)
        result = gst_element_get_state(m_pipeline.get(), nullptr, nullptr, 5 * GST_SECOND);
    if (result != GST_STATE_CHANGE_FAILURE)
        return;

    auto [text, code] =
        std::pair{QStringLiteral("The capture graph could not change its state"), int(GST_CORE_ERROR_STATE_CHANGE)};
    GstBusHandle bus(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    if (GstMessageHandle message{gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)})
        std::tie(text, code) = BusWatch::errorOf(message.get());
    else if (!m_lastBusError.isEmpty())
        std::tie(text, code) = std::pair{m_lastBusError, m_lastBusErrorCode};
    throw AppError(QStringLiteral("%1 ($%2).").arg(text, QString::number(quint32(code), 16).toUpper()));
}

void CaptureGraph::run()
{
    setState(GST_STATE_PLAYING, false);
}

void CaptureGraph::pause()
{
    setState(GST_STATE_PAUSED, false);
}

void CaptureGraph::stop()
{
    // The file is complete when the stop returns: it waits for the recording's end (bounded).
    if (m_recording.attached())
        m_recording.finish(m_pipeline.get(), *m_bus, kFinishTimeout);
    // READY stops the streaming threads and waits for them.
    setState(GST_STATE_READY, true);
}

GraphState CaptureGraph::graphState() const
{
    if (!m_pipeline)
        return GraphState::NotInitialised;
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(m_pipeline.get(), &current, &pending, 0);
    // A change still under way counts as its target, so a click right after a start pauses.
    return stateOf(pending != GST_STATE_VOID_PENDING ? pending : current);
}

// ---- a camera that goes away and comes back ----------------------------------------------

void CaptureGraph::loseCamera()
{
    if (m_cameraLost || m_losing)
        return;
    qCWarning(lcCapture) << "the camera" << deviceName() << "went away; waiting for a camera";
    m_deviceMonitor->awaitCamera();
    // The camera sends nothing more: the recording gets its end of stream behind the frames the
    // branch still holds, and the graph goes when its message is back (bounded).
    if (m_pipeline && m_recording.end(m_pipeline.get())) {
        m_losing = true;
        m_lossTimer.start();
        return;
    }
    completeLoss();
}

void CaptureGraph::completeLoss()
{
    m_losing = false;
    m_lossTimer.stop();
    makeInactive();
    m_cameraLost = true;
    livePicture().showNoCamera(caption(QStringLiteral("Msg_no_camera"), QStringLiteral("无摄像头")));
}

void CaptureGraph::tryRestart()
{
    if (m_losing)
        return m_deviceMonitor->retry();
    if (!m_cameraLost)
        return m_deviceMonitor->stopAwaiting();
    try {
        actPreviewExecute();
    } catch (const std::exception &failure) {
        // Not a box: the camera is still on its way; the next look tries again.
        qCWarning(lcCapture) << "the camera did not start again:" << failure.what();
        loseCamera();
        m_deviceMonitor->retry();
    }
}

// ---- the build ---------------------------------------------------------------------------

void CaptureGraph::BuildCaptureGraph()
{
    makeInactive();
    makeActive();
    m_mediaTypeIndex =
        quint16(toInteger(ReadConfigString(QStringLiteral("system"), QStringLiteral("format"), QStringLiteral("0"))));

    // From here a failure ends the build without a word; the preview then runs what was built.
    try {
        if (!m_device)
            throw BuildStopped{};
        m_mediaTypes = m_device->mediaTypes();
        if (m_mediaTypes.isEmpty())
            throw BuildStopped{};
        m_mediaTypeIndex = m_sizes.buildAndChoose(m_mediaTypes, m_mediaTypeIndex);
        renderStreams();
        // Without its branch (an encoder missing) the preview goes on without recording.
        if (m_recording.on() && !m_recording.attach(GST_BIN(m_pipeline.get()), m_tee, m_captureSize))
            throw BuildStopped{};
    } catch (const BuildStopped &) {
    } catch (const std::exception &failure) {
        qCWarning(lcCapture) << "build ended:" << failure.what();
    }
}

void CaptureGraph::TrackBar1Change()
{
    if (m_sizes.TrackBar1Change())
        actPreviewExecute();
}

void CaptureGraph::renderStreams()
{
    if (m_mediaTypeIndex >= m_mediaTypes.size())
        throw BuildStopped{};
    const MediaType &type = m_mediaTypes[m_mediaTypeIndex];
    m_captureSize = MediaTypeFrameSize(type);
    GstBin *pipeline = GST_BIN(m_pipeline.get());
    m_tee = gstAdd(pipeline, gstMake("tee", "Tee"));
    if (!m_tee || !m_camera.build(pipeline, *m_device, type, m_tee) || !gst_element_link(m_tee, m_sampleGrabber))
        throw BuildStopped{};
    // A stream whose size is known only after decoding is not cropped.
    if (CameraSource::sizeKnownBeforeDecoding(type))
        PreviewSink::fitTo(m_sampleGrabber, type, m_captureSize);

    // The still output: a camera with a snapshot button has one. Each press reaches
    // SampleGrabber1Buffer on the button's own thread.
    m_stillButton = m_device->openStillButton([this] { SampleGrabber1Buffer(); });
}

// ---- frames, clicks, settings ------------------------------------------------------------

void CaptureGraph::SampleGrabber1Buffer()
{
    // Runs on the button's thread: hand one request to the window thread and touch nothing.
    QMetaObject::invokeMethod(
        this, [this] { emit snapshotRequested(); }, Qt::QueuedConnection);
}

void CaptureGraph::ImagemovieClick()
{
    m_rememberedGraphState = graphState();
    if (m_rememberedGraphState == GraphState::Running)
        pause();
}

void CaptureGraph::ImagemovieMouseUp(Qt::MouseButton button)
{
    if (button != Qt::RightButton)
        return;
    switch (graphState()) {
    case GraphState::NotInitialised:
    case GraphState::Stopped:
        actPreviewExecute();
        break;
    case GraphState::Paused:
        run();
        break;
    case GraphState::Running:
        break;
    }
}

void CaptureGraph::btnRecordClick()
{
    m_recording.toggle();
    actPreviewExecute();
    m_recording.updateRecordCaption();
}

void CaptureGraph::btnOpenVideoClick()
{
    // As with the shell's "open", a folder that cannot be shown is not reported.
    QDesktopServices::openUrl(QUrl::fromLocalFile(videoFolder()));
}

void CaptureGraph::btnCameraPropClick()
{
    if (!m_pipeline || !m_device)
        return;
    CameraPropDialog::showFor(m_device->controls(m_camera.element()), *m_cameraSettings, m_device->identity(),
                              m_controls.owner,
                              caption(QStringLiteral("btnCameraDefaults.Caption"), QStringLiteral("默认值")));
}

void CaptureGraph::applyStoredSettings()
{
    // At every start, so after a capture-size change and a replug too.
    if (m_pipeline && m_device && m_camera.element())
        m_cameraSettings->applyTo(m_device->identity(), m_device->controls(m_camera.element()));
}

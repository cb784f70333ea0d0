#include "capture/CaptureGraph.h"

#include "capture/CameraPropDialog.h"
#include "capture/CameraSettings.h"
#include "capture/DeviceMonitor.h"
#include "capture/FootSwitch.h"
#include "capture/FrameCopy.h"
#include "capture/LivePictureView.h"
#include "capture/Logging.h"
#include "capture/StillButton.h"
#include "core/AppError.h"
#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/IniFile.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QSocketNotifier>
#include <QThread>
#include <QUrl>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

namespace {

// How long stopping waits for the end of a recording to travel through the muxer.
constexpr GstClockTime kFinishTimeout = 10 * GST_SECOND;
// While the camera is lost, how often the device list is looked at again (besides the device
// monitor's news), and how long after the monitor's news the restart waits for the device node.
constexpr int kReplugPollMs = 1000;
constexpr int kReplugSettleMs = 150;
const QString kNoCameraKey = QStringLiteral("Msg_no_camera");

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

GstFlowReturn CaptureGraph::onPreviewSample(GstAppSink *sink, gpointer owner)
{
    auto *graph = static_cast<CaptureGraph *>(owner);
    GstSampleHandle sample(gst_app_sink_pull_sample(sink));
    if (!sample || !graph->SampleGrabberBuffer(sample.get()) || !graph->m_frameObserver)
        return GST_FLOW_OK;
    // Capture time of the frame: its running time on the pipeline clock.
    GstBuffer *buffer = gst_sample_get_buffer(sample.get());
    const GstSegment *segment = gst_sample_get_segment(sample.get());
    GstObjectHandle<GstClock> clock(gst_element_get_clock(GST_ELEMENT(sink)));
    if (!buffer || !segment || !clock || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_FLOW_OK;
    const GstClockTime captured = gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    const GstClockTime now = gst_clock_get_time(clock.get()) - gst_element_get_base_time(GST_ELEMENT(sink));
    graph->m_frameObserver(qint64(now) - qint64(captured));
    return GST_FLOW_OK;
}

CaptureGraph::CaptureGraph(const CaptureControls &controls, IniFile &iniFile, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
    , m_iniFile(iniFile)
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    m_cameraSettings = std::make_unique<CameraSettings>(ProgramFolder::file(QStringLiteral("cameras.ini")));
    m_deviceMonitor = std::make_unique<DeviceMonitor>();
    connect(m_deviceMonitor.get(), &DeviceMonitor::deviceRemoved, this, [this](const QString &path) {
        if (!m_cameraLost && m_pipeline && m_device && path == m_device->path())
            loseCamera();
    });
    connect(m_deviceMonitor.get(), &DeviceMonitor::deviceAdded, this, [this] {
        if (m_cameraLost)
            QTimer::singleShot(kReplugSettleMs, this, &CaptureGraph::tryRestart);
    });
    m_replugTimer.setInterval(kReplugPollMs);
    connect(&m_replugTimer, &QTimer::timeout, this, &CaptureGraph::tryRestart);
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

// ---- the preview -------------------------------------------------------------------------

void CaptureGraph::actPreviewExecute()
{
    actStopExecute();
    SelectCaptureDevice();
    // A lost camera that is not back yet: the "no camera" picture stays.
    if (m_cameraLost && m_devices.isEmpty())
        return;
    m_cameraLost = false;
    m_replugTimer.stop();
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
    GstElementHandle grabber = makeSampleGrabber();
    GstElement *added = pipeline && grabber ? gstAdd(GST_BIN(pipeline.get()), std::move(grabber)) : nullptr;
    if (!added)
        throw AppError(QStringLiteral("The capture graph for \"%1\" cannot be created").arg(deviceName()));
    m_sampleGrabber = added;
    m_pipeline = std::move(pipeline);
    ++m_generation;
    watchBus();
    m_deviceMonitor->start();
}

// The preview's end: a one-frame leaky queue (the live picture wants the newest frame, never
// a backlog), the crop to the centre 640 x 480 (set per build), conversion to 24-bit BGR and
// the appsink whose callback is SampleGrabberBuffer. Cropping before the conversion converts
// only the pixels the live picture shows: at 1920 x 1080 a seventh of the frame.
GstElementHandle CaptureGraph::makeSampleGrabber()
{
    GstElementHandle bin = gstSink(gst_bin_new("SampleGrabber"));
    GstElementHandle queueHandle = gstMake("queue");
    GstElementHandle cropHandle = gstMake("videocrop", "PreviewCrop");
    GstElementHandle colorimetryHandle = gstMake("capsfilter", "PreviewColorimetry");
    GstElementHandle convertHandle = gstMake("videoconvert");
    GstElementHandle sinkHandle = gstMake("appsink");
    if (!bin || !queueHandle || !cropHandle || !colorimetryHandle || !convertHandle || !sinkHandle)
        return {};
    GstElement *queue = gstAdd(GST_BIN(bin.get()), std::move(queueHandle));
    GstElement *crop = gstAdd(GST_BIN(bin.get()), std::move(cropHandle));
    GstElement *colorimetry = gstAdd(GST_BIN(bin.get()), std::move(colorimetryHandle));
    GstElement *convert = gstAdd(GST_BIN(bin.get()), std::move(convertHandle));
    GstElement *sink = gstAdd(GST_BIN(bin.get()), std::move(sinkHandle));
    if (!queue || !crop || !colorimetry || !convert || !sink)
        return {};
    g_object_set(queue, "leaky", 2 /* downstream: drop the older frame */, "max-size-buffers", 1u, "max-size-bytes", 0u,
                 "max-size-time", guint64(0), nullptr);
    GstCapsHandle bgr(gst_caps_from_string("video/x-raw, format=(string)BGR"));
    g_object_set(sink, "caps", bgr.get(), "max-buffers", 1u, "drop", TRUE, "sync", FALSE, "enable-last-sample", FALSE,
                 "qos", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onPreviewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_element_link_many(queue, crop, colorimetry, convert, sink, nullptr);
    GstPadHandle pad(gst_element_get_static_pad(queue, "sink"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", pad.get()));
    return bin;
}

void CaptureGraph::makeInactive()
{
    // The snapshot button's thread ends first: it must not call into a graph being released.
    m_stillButton.reset();
    m_busNotifier.reset();
    ++m_generation;
    if (m_pipeline) {
        // NULL joins every streaming thread, so no frame reaction runs after this line.
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_pipeline.reset();
    }
    m_source = m_tee = m_sampleGrabber = m_writer = nullptr;
    m_recordingFile.clear();
}

void CaptureGraph::watchBus()
{
    GstBusHandle bus(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    GPollFD poll{};
    gst_bus_get_pollfd(bus.get(), &poll);
    m_busNotifier = std::make_unique<QSocketNotifier>(poll.fd, QSocketNotifier::Read);
    const quint64 generation = m_generation;
    connect(m_busNotifier.get(), &QSocketNotifier::activated, this, [this, generation] { drainBus(generation); });
}

void CaptureGraph::drainBus(quint64 generation)
{
    // A message of a pipeline that was already torn down has nothing to say to this one.
    if (generation != m_generation || !m_pipeline)
        return;
    GstBusHandle bus(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    while (GstMessageHandle message{gst_bus_pop(bus.get())}) {
        if (GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_ERROR)
            continue;
        GError *raw = nullptr;
        gst_message_parse_error(message.get(), &raw, nullptr);
        GErrorHandle error(raw);
        // The last error explains a later failure to run.
        m_lastBusError = QString::fromUtf8(error ? error->message : "");
        m_lastBusErrorCode = error ? error->code : 0;
        qCWarning(lcCapture) << "pipeline error:" << m_lastBusError;
        // An error of the camera's own source is a camera that went away (a pulled cable gives
        // a read error before the device monitor has noticed).
        GstObject *from = GST_MESSAGE_SRC(message.get());
        if (m_source && from
            && (from == GST_OBJECT(m_source) || gst_object_has_as_ancestor(from, GST_OBJECT(m_source)))) {
            // Queued: tearing the graph down here would delete the bus notifier inside its own
            // signal. A graph rebuilt in between has another generation and stays.
            QMetaObject::invokeMethod(
                this,
                [this, generation] {
                    if (generation == m_generation)
                        loseCamera();
                },
                Qt::QueuedConnection);
            return;
        }
    }
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

    QString text = QStringLiteral("The capture graph could not change its state");
    int code = GST_CORE_ERROR_STATE_CHANGE;
    GstBusHandle bus(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    if (GstMessageHandle message{gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)}) {
        GError *raw = nullptr;
        gst_message_parse_error(message.get(), &raw, nullptr);
        GErrorHandle error(raw);
        if (error) {
            text = QString::fromUtf8(error->message);
            code = error->code;
        }
    } else if (!m_lastBusError.isEmpty()) {
        text = m_lastBusError;
        code = m_lastBusErrorCode;
    }
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
    finishRecording();
    // READY stops the streaming threads and waits for them.
    setState(GST_STATE_READY, true);
}

void CaptureGraph::finishRecording()
{
    if (!m_pipeline || !m_writer)
        return;
    // A start still under way is let finish first, so the end of stream follows real frames.
    GstState current = GST_STATE_NULL;
    gst_element_get_state(m_pipeline.get(), &current, nullptr, 2 * GST_SECOND);
    if (current < GST_STATE_PAUSED)
        return;
    // The end of stream must pass through the muxer, which then writes the file's index and
    // final header; a frozen (paused) live source sends nothing, so let it run for that.
    if (current == GST_STATE_PAUSED)
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    gst_element_send_event(m_pipeline.get(), gst_event_new_eos());
    GstBusHandle bus(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    GstMessageHandle done(
        gst_bus_timed_pop_filtered(bus.get(), kFinishTimeout, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    if (!done)
        qCWarning(lcCapture) << "the recording" << m_recordingFile << "did not finish in time";
}

// ---- a camera that goes away and comes back ----------------------------------------------

void CaptureGraph::loseCamera()
{
    if (m_cameraLost)
        return;
    qCWarning(lcCapture) << "the camera" << deviceName() << "went away; waiting for a camera";
    endRecordingWithoutSource();
    makeInactive();
    m_cameraLost = true;
    showNoCameraPicture();
    m_replugTimer.start();
}

void CaptureGraph::tryRestart()
{
    if (!m_cameraLost || ListVideoInputDevices().isEmpty())
        return;
    try {
        actPreviewExecute();
    } catch (const std::exception &failure) {
        // Not a box: the camera is still on its way; the next look tries again.
        qCWarning(lcCapture) << "the camera did not start again:" << failure.what();
        loseCamera();
    }
}

void CaptureGraph::endRecordingWithoutSource()
{
    if (!m_pipeline || !m_writer)
        return;
    // The camera sends nothing more. The end of stream goes straight into the writer, behind
    // the frames it still holds, so the muxer writes the file's index and final header. (The
    // source's own end of stream may have got there first; the second is then refused.)
    GstPadHandle input(gst_element_get_static_pad(m_writer, "sink"));
    if (input)
        gst_pad_send_event(input.get(), gst_event_new_eos());
    QElapsedTimer waited;
    waited.start();
    while (!m_recordingEnded.load() && waited.elapsed() < qint64(kFinishTimeout / GST_MSECOND))
        QThread::msleep(5);
    if (!m_recordingEnded.load())
        qCWarning(lcCapture) << "the recording" << m_recordingFile << "did not finish in time";
}

void CaptureGraph::showNoCameraPicture()
{
    const QString builtIn = QStringLiteral("无摄像头");
    const QString text = m_captionLookup ? m_captionLookup(kNoCameraKey, builtIn) : builtIn;
    QImage picture(LivePicture::kWidth, LivePicture::kHeight, QImage::Format_RGB32);
    const int grey = LivePicture::kNoCameraGrey;
    picture.fill(QColor(grey, grey, grey));
    {
        QPainter painter(&picture);
        QFont font = painter.font();
        font.setPixelSize(28);
        painter.setFont(font);
        painter.setPen(QColor(220, 220, 220));
        painter.drawText(picture.rect(), Qt::AlignCenter, text);
    }
    LivePicture &live = livePicture();
    {
        std::lock_guard guard(live.mutex());
        live.bitsLocked() = picture.convertToFormat(QImage::Format_BGR888);
    }
    live.requestRepaint();
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
        buildAndChoose();
        applyMediaType(m_mediaTypeIndex);
        renderStreams();
        if (m_recording)
            recordingBranch();
    } catch (const BuildStopped &) {
    } catch (const std::exception &failure) {
        qCWarning(lcCapture) << "build ended:" << failure.what();
    }
}

void CaptureGraph::buildAndChoose()
{
    m_catalogue.clear();
    for (qsizetype i = 0; i < m_mediaTypes.size(); ++i) {
        const MediaType &type = m_mediaTypes[i];
        if (!type.isFrameFormat())
            continue;
        const QSize size = MediaTypeFrameSize(type);
        if (size.width() >= 640)
            m_catalogue.add(QStringLiteral("%1_%2x%3_%4")
                                .arg(qint64(size.width()) * size.height())
                                .arg(size.width())
                                .arg(size.height())
                                .arg(i));
    }
    const int count = m_catalogue.count();
    if (count >= 1 && m_controls.TrackBar1) {
        // A shrinking range clamps the position; that is the build's doing, not the operator's.
        const QSignalBlocker blocker(m_controls.TrackBar1);
        m_controls.TrackBar1->setMaximum(count);
    }
    if (count == 0)
        return;

    const QString stored =
        m_iniFile.readString(QStringLiteral("camera"), QStringLiteral("resolution"), QStringLiteral("640x480"));
    int chosen = 0;
    for (int i = 0; i < count; ++i)
        if (!stored.isEmpty() && m_catalogue[i].contains(stored))
            chosen = i;
    m_mediaTypeIndex = quint16(m_catalogue[chosen].section(u'_', 2, 2).toInt());
    SetResolutionPosition(chosen + 1);
}

void CaptureGraph::SetResolutionPosition(int position)
{
    m_rememberedPosition = position;
    if (m_controls.TrackBar1)
        m_controls.TrackBar1->setValue(position); // TrackBar1Change sees the remembered position: no restart
    if (!m_catalogue.isEmpty()) {
        ShowResolutionText();
        if (m_controls.lbResolution)
            m_iniFile.writeString(QStringLiteral("camera"), QStringLiteral("resolution"),
                                  m_controls.lbResolution->text());
    }
}

void CaptureGraph::ShowResolutionText()
{
    if (m_catalogue.isEmpty() || !m_controls.TrackBar1 || !m_controls.lbResolution)
        return;
    const int entry = m_controls.TrackBar1->value() - 1;
    if (entry < 0 || entry >= m_catalogue.count())
        return;
    m_controls.lbResolution->setText(m_catalogue[entry].section(u'_', 1, 1));
}

void CaptureGraph::TrackBar1Change()
{
    if (!m_controls.TrackBar1 || m_controls.TrackBar1->value() == m_rememberedPosition)
        return;
    m_rememberedPosition = m_controls.TrackBar1->value();
    if (!m_catalogue.isEmpty()) {
        ShowResolutionText();
        m_iniFile.writeString(QStringLiteral("camera"), QStringLiteral("resolution"), m_controls.lbResolution->text());
    }
    actPreviewExecute();
}

void CaptureGraph::applyMediaType(quint16 index)
{
    if (index >= m_mediaTypes.size())
        throw BuildStopped{};
    const MediaType &type = m_mediaTypes[index];
    m_captureSize = MediaTypeFrameSize(type);

    GstElementHandle sourceHandle = m_device->createSource(type);
    GstElementHandle formatHandle = gstMake("capsfilter", "MediaType");
    if (!sourceHandle || !formatHandle)
        throw BuildStopped{};
    gst_object_set_name(GST_OBJECT(sourceHandle.get()), "VideoSourceFilter");
    g_object_set(formatHandle.get(), "caps", type.caps(), nullptr);
    GstElement *source = gstAdd(GST_BIN(m_pipeline.get()), std::move(sourceHandle));
    GstElement *format = gstAdd(GST_BIN(m_pipeline.get()), std::move(formatHandle));
    m_source = source;
    if (!source || !format || !gst_element_link(source, format))
        throw BuildStopped{};
}

void CaptureGraph::renderStreams()
{
    GstElement *format = gst_bin_get_by_name(GST_BIN(m_pipeline.get()), "MediaType");
    GstElementHandle formatRef(format);
    GstElement *last = format;
    const MediaType &type = m_mediaTypes[m_mediaTypeIndex];
    // Compressed types are decoded before the tee: MJPG by jpegdec, anything else by decodebin,
    // whose output appears only once it knows the stream (the tee follows then).
    const bool decodedLater = !type.isJpeg() && !type.isFrameFormat();
    if (type.isJpeg() || decodedLater) {
        GstElement *decoder = gstAdd(GST_BIN(m_pipeline.get()), gstMake(type.isJpeg() ? "jpegdec" : "decodebin"));
        if (!decoder || !gst_element_link(last, decoder))
            throw BuildStopped{};
        last = decoder;
    }
    GstElement *tee = gstAdd(GST_BIN(m_pipeline.get()), gstMake("tee", "Tee"));
    if (!tee)
        throw BuildStopped{};
    m_tee = tee;
    if (decodedLater) {
        g_signal_connect(last, "pad-added", G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer teeElement) {
                             GstPadHandle sink(gst_element_get_static_pad(GST_ELEMENT(teeElement), "sink"));
                             if (!gst_pad_is_linked(sink.get()))
                                 gst_pad_link(pad, sink.get());
                         }),
                         tee);
    } else if (!gst_element_link(last, tee)) {
        throw BuildStopped{};
    }
    if (!gst_element_link(tee, m_sampleGrabber))
        throw BuildStopped{};
    // The live picture shows the centre 640 x 480 of the frame: crop close to it before the
    // colour conversion. A margin of 16 pixels, and crops that are multiples of 16, keep every
    // shown pixel's neighbours and its place in the converter's chroma and dither patterns, so
    // the picture is the same as from the whole frame; the crop stays symmetric, so
    // CopyFrameCentre finds the same centre. A stream whose size is known only after decoding
    // is not cropped.
    if (!decodedLater) {
        auto cropOf = [](int size, int shown) {
            const int spare = std::max(0, size - shown);
            const int near = std::max(0, spare / 2 - 16) / 16 * 16;
            return std::pair{near, near + spare % 2};
        };
        const auto [left, right] = cropOf(m_captureSize.width(), LivePicture::kWidth);
        const auto [top, bottom] = cropOf(m_captureSize.height(), LivePicture::kHeight);
        GstElementHandle crop(gst_bin_get_by_name(GST_BIN(m_sampleGrabber), "PreviewCrop"));
        if (crop)
            g_object_set(crop.get(), "left", left, "right", right, "top", top, "bottom", bottom, nullptr);
        // A camera that names no colorimetry and chroma siting gets the defaults of its frame
        // size (BT.709 and co-sited chroma from HD up); the cropped frame must keep them, not
        // take the defaults of its smaller size.
        GstVideoInfo info;
        GstElementHandle colorimetry(gst_bin_get_by_name(GST_BIN(m_sampleGrabber), "PreviewColorimetry"));
        if (colorimetry && type.isFrameFormat() && gst_video_info_from_caps(&info, type.caps())) {
            GstCapsHandle caps(gst_caps_new_empty_simple("video/x-raw"));
            GCharHandle matrix(gst_video_colorimetry_to_string(&GST_VIDEO_INFO_COLORIMETRY(&info)));
            if (matrix)
                gst_caps_set_simple(caps.get(), "colorimetry", G_TYPE_STRING, matrix.get(), nullptr);
            GCharHandle siting(gst_video_chroma_site_to_string(GST_VIDEO_INFO_CHROMA_SITE(&info)));
            if (siting && GST_VIDEO_INFO_IS_YUV(&info))
                gst_caps_set_simple(caps.get(), "chroma-site", G_TYPE_STRING, siting.get(), nullptr);
            g_object_set(colorimetry.get(), "caps", caps.get(), nullptr);
        }
    }

    // The still output: a camera with a snapshot button has one. Each press reaches
    // SampleGrabber1Buffer on the button's own thread.
    m_stillButton = m_device->openStillButton([this] { SampleGrabber1Buffer(); });
}

// ---- frames ------------------------------------------------------------------------------

bool CaptureGraph::SampleGrabberBuffer(GstSample *sample)
{
    // The frame bitmap's lock, then the live picture's, each only tried: a busy lock drops
    // the frame rather than holding up the camera's stream.
    std::unique_lock frameLock(m_frameMutex, std::try_to_lock);
    if (!frameLock.owns_lock())
        return false;
    GstVideoInfo info;
    GstCaps *caps = gst_sample_get_caps(sample);
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)
        || GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGR)
        return false;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return false;
    m_frameSize = QSize(GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame));

    LivePicture &live = livePicture();
    bool shown = false;
    {
        std::unique_lock pictureLock(live.mutex(), std::try_to_lock);
        if (pictureLock.owns_lock()) {
            CopyFrameCentre(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)), m_frameSize.width(),
                            m_frameSize.height(), GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), live.bitsLocked());
            pictureLock.unlock();
            live.countFrame();
            live.requestRepaint();
            shown = true;
        }
    }
    gst_video_frame_unmap(&frame);
    return shown;
}

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

// ---- camera settings ---------------------------------------------------------------------

void CaptureGraph::btnCameraPropClick()
{
    if (!m_pipeline || !m_device)
        return;
    // Every change the operator makes is kept for this camera, and "defaults" forgets them.
    const QString camera = m_device->identity();
    CameraControlList controls = m_device->controls(m_source);
    for (CameraControl &control : controls) {
        control.apply = [this, camera, name = control.name, apply = control.apply](int value) {
            const bool accepted = apply && apply(value);
            if (accepted)
                m_cameraSettings->remember(camera, name, value);
            return accepted;
        };
    }
    const QString builtIn = QStringLiteral("默认值");
    const QString defaults =
        m_captionLookup ? m_captionLookup(QStringLiteral("btnCameraDefaults.Caption"), builtIn) : builtIn;
    CameraPropDialog dialog(controls, m_controls.owner, defaults, [this, camera] { m_cameraSettings->forget(camera); });
    // It opens in the screen's top-left corner, not centred over the window.
    const QScreen *screen = m_controls.owner ? m_controls.owner->screen() : QGuiApplication::primaryScreen();
    dialog.move(screen ? screen->geometry().topLeft() : QPoint(0, 0));
    Dialogs::exec(dialog);
}

void CaptureGraph::applyStoredSettings()
{
    // At every start, so after a capture-size change and a replug too.
    if (m_pipeline && m_device && m_source)
        m_cameraSettings->applyTo(m_device->identity(), m_device->controls(m_source));
}

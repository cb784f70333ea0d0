#include "CaptureFixture.h"

#include "capture/SyntheticCamera.h"
#include "core/inifunc.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

CaptureFixture::CaptureFixture()
{
    settings.setPath(home.file(QStringLiteral("system.ini")));
    QDir().mkpath(home.file(QStringLiteral("video")));
    window.resize(800, 600);
    Imagemovie = new LivePictureView(&window);
    Imagemovie->setGeometry(0, 0, 640, 480);
    TrackBar1 = new QSlider(Qt::Horizontal, &window);
    TrackBar1->setRange(1, 1);
    TrackBar1->setValue(1);
    lbResolution = new QLabel(QStringLiteral("640x480"), &window);
    btnRecord = new QPushButton(QStringLiteral("录像"), &window);
    edtNumber = new QLineEdit(&window);

    CaptureControls controls;
    controls.Imagemovie = Imagemovie;
    controls.TrackBar1 = TrackBar1;
    controls.lbResolution = lbResolution;
    controls.btnRecord = btnRecord;
    controls.edtNumber = edtNumber;
    controls.owner = &window;
    graph = std::make_unique<CaptureGraph>(controls, settings);

    // The window's reaction table for the live picture area.
    QObject::connect(TrackBar1, &QSlider::valueChanged, graph.get(), [this] { graph->TrackBar1Change(); });
    QObject::connect(Imagemovie, &LivePictureView::clicked, graph.get(), [this] { graph->ImagemovieClick(); });
    QObject::connect(Imagemovie, &LivePictureView::mouseReleased, graph.get(),
                     [this](Qt::MouseButton button) { graph->ImagemovieMouseUp(button); });
}

CaptureFixture::~CaptureFixture()
{
    graph.reset();
    qunsetenv("EXAMSTATION_SYNTHETIC_CAMERA");
    SyntheticCamera::resetPresence();
}

void CaptureFixture::declareCameras(const char *value)
{
    qputenv("EXAMSTATION_SYNTHETIC_CAMERA", value);
}

void CaptureFixture::writeConfig(const QString &key, const QString &value)
{
    WriteConfigString(QStringLiteral("system"), key, value);
}

bool CaptureFixture::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

bool CaptureFixture::waitForFrames(quint64 count, int timeoutMs)
{
    const quint64 target = graph->livePicture().framesShown() + count;
    return waitUntil([&] { return graph->livePicture().framesShown() >= target; }, timeoutMs);
}

QImage ReferenceFrame(const char *pattern, const char *format, int width, int height)
{
    const QString description =
        QStringLiteral(
            "videotestsrc num-buffers=1 pattern=%1 ! video/x-raw,format=%2,width=%3,height=%4 ! videoconvert ! "
            "video/x-raw,format=BGR ! appsink name=sink")
            .arg(QLatin1String(pattern), QLatin1String(format))
            .arg(width)
            .arg(height);
    GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), nullptr);
    if (!pipeline)
        return {};
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
    QImage image;
    if (sample) {
        GstVideoInfo info;
        gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
        GstVideoFrame frame;
        if (gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
            image = QImage(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)), width, height,
                           GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_BGR888)
                        .copy();
            gst_video_frame_unmap(&frame);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return image;
}

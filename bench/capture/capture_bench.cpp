// Capture benchmark. Usage: bench_capture [seconds per pipeline run, default 30]
//  1. The preview reaction (SampleGrabberBuffer: sample to live picture) against a plain
//     memcpy of 640 x 480 x 3 bytes, side by side in one run.
//  2. The live pipeline on the synthetic camera (YUY2 1280x720 and 1920x1080, 30 fps): share
//     of frames that reach the live picture, capture-to-picture latency, CPU use.
//  3. The same while recording: frames in the recording per second, share reaching the picture.
//  4. The live path (camera to painted picture, window shown) beside a bare GStreamer pipeline
//     from the same source to fakesink (same caps, same decoder), one after the other in one
//     run, at 720p and 1080p, YUY2 and MJPG: CPU of the process, the extra share, and the
//     latency from a frame's capture stamp to the paint that shows it.
//  5. H.264 MP4 recording ([video] format=mp4) at 720p, 30 fps: share of frames that reach the
//     live picture while recording, and the process's CPU beside a bare pipeline from the same
//     source through the recorder's own encoder branch (same elements, same settings) to a file,
//     one after the other in one run.
// "bench_capture <seconds> h264" runs only part 5.
#include "capture/CaptureGraph.h"
#include "capture/LivePictureView.h"
#include "capture/SyntheticCamera.h"
#include "core/IniFile.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

namespace {

struct CpuTimes {
    double process = 0; // seconds of CPU used by this process
    std::vector<double> busy, all; // per core, in clock ticks
};

CpuTimes readCpu()
{
    CpuTimes t;
    QFile self(QStringLiteral("/proc/self/stat"));
    if (self.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = self.readAll().split(')').value(1).trimmed().split(' ');
        t.process = (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile stat(QStringLiteral("/proc/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : stat.readAll().split('\n')) {
            if (!line.startsWith("cpu") || line.startsWith("cpu "))
                continue;
            const QList<QByteArray> f = line.simplified().split(' ');
            double all = 0;
            for (int i = 1; i < f.size(); ++i)
                all += f[i].toDouble();
            t.all.push_back(all);
            t.busy.push_back(all - f.value(4).toDouble() - f.value(5).toDouble());
        }
    }
    return t;
}

void runEvents(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The live picture control, noting for each paint how old the newest frame in it is.
class TimedView : public LivePictureView {
public:
    using LivePictureView::LivePictureView;
    std::atomic<qint64> newestCapture{0}; // CLOCK_MONOTONIC ns of the newest frame's capture
    std::mutex mutex;
    std::vector<qint64> paintLatencies;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        const qint64 captured = newestCapture.load();
        LivePictureView::paintEvent(event);
        if (captured == 0)
            return;
        std::lock_guard guard(mutex);
        paintLatencies.push_back(monotonicNs() - captured);
    }
};

struct Rig {
    IniFile settings;
    QWidget window;
    TimedView *view = new TimedView(&window);
    QSlider *bar = new QSlider(Qt::Horizontal, &window);
    QLabel *label = new QLabel(&window);
    QPushButton *record = new QPushButton(&window);
    QLineEdit *number = new QLineEdit(&window);
    std::unique_ptr<CaptureGraph> graph;

    explicit Rig(const QString &home)
    {
        settings.setPath(home + QStringLiteral("system.ini"));
        bar->setRange(1, 1);
        window.resize(800, 600);
        view->setGeometry(0, 0, 640, 480);
        CaptureControls controls{view, bar, label, record, number, &window};
        graph = std::make_unique<CaptureGraph>(controls, settings);
    }
};

void preview_reaction_vs_memcpy(Rig &rig)
{
    constexpr int kRounds = 2000;
    const int sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
    std::printf("\n%-34s %12s %12s %8s\n", "preview reaction (per frame)", "reaction us", "memcpy us", "ratio");
    std::vector<uchar> from(640 * 480 * 3, 7), to(640 * 480 * 3);
    for (const auto &size : sizes) {
        const int w = size[0], h = size[1];
        GstCaps *caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, w,
                                            "height", G_TYPE_INT, h, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
        GstBuffer *buffer = gst_buffer_new_allocate(nullptr, gsize(GST_ROUND_UP_4(w * 3)) * h, nullptr);
        gst_buffer_memset(buffer, 0, 99, gst_buffer_get_size(buffer));
        GstSample *sample = gst_sample_new(buffer, caps, nullptr, nullptr);
        double reaction = 0, copy = 0;
        for (int pass = 0; pass < 2; ++pass) { // the first pass warms the caches up
            auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < kRounds; ++i)
                rig.graph->SampleGrabberBuffer(sample);
            auto t1 = std::chrono::steady_clock::now();
            for (int i = 0; i < kRounds; ++i) {
                std::memcpy(to.data(), from.data(), to.size());
                asm volatile("" : : "r"(to.data()) : "memory");
            }
            auto t2 = std::chrono::steady_clock::now();
            reaction = std::chrono::duration<double, std::micro>(t1 - t0).count() / kRounds;
            copy = std::chrono::duration<double, std::micro>(t2 - t1).count() / kRounds;
        }
        std::printf("%-34s %12.1f %12.1f %8.2f\n", qPrintable(QStringLiteral("%1x%2 frame").arg(w).arg(h)), reaction,
                    copy, reaction / copy);
        gst_sample_unref(sample);
        gst_buffer_unref(buffer);
        gst_caps_unref(caps);
    }
}

void live_pipeline(Rig &rig, const QString &home, int seconds, bool recording)
{
    for (const char *size : {"1280x720", "1920x1080"}) {
        qputenv("EXAMSTATION_SYNTHETIC_CAMERA", QByteArray("YUY2 ") + size + "/fps=30");
        std::mutex mutex;
        std::vector<qint64> latencies;
        latencies.reserve(size_t(seconds) * 40);
        rig.graph->setFrameObserver([&](qint64 ns) {
            std::lock_guard guard(mutex);
            latencies.push_back(ns);
        });
        if (recording)
            rig.graph->btnRecordClick();
        else
            rig.graph->actPreviewExecute();
        runEvents(1000); // start-up of the stream is not measured
        {
            std::lock_guard guard(mutex);
            latencies.clear();
        }
        const CpuTimes before = readCpu();
        const quint64 shownBefore = rig.graph->livePicture().framesShown();
        QElapsedTimer timer;
        timer.start();
        runEvents(seconds * 1000);
        const double wall = timer.elapsed() / 1000.0;
        const quint64 shown = rig.graph->livePicture().framesShown() - shownBefore;
        const CpuTimes after = readCpu();
        const QString file = rig.graph->recordingFile();
        if (recording)
            rig.graph->btnRecordClick();
        else
            rig.graph->actStopExecute();
        rig.graph->setFrameObserver({});

        std::vector<qint64> sorted;
        {
            std::lock_guard guard(mutex);
            sorted = latencies;
        }
        std::sort(sorted.begin(), sorted.end());
        auto at = [&](double q) { return sorted.empty() ? 0.0 : sorted[size_t(q * (sorted.size() - 1))] / 1e6; };
        QString cores;
        for (size_t c = 0; c < after.all.size() && c < before.all.size(); ++c) {
            const double all = after.all[c] - before.all[c];
            cores += QStringLiteral("%1%2%")
                         .arg(c ? QStringLiteral(" ") : QString())
                         .arg(all > 0 ? 100.0 * (after.busy[c] - before.busy[c]) / all : 0, 0, 'f', 0);
        }
        std::printf("%-24s %9.1f%% %8.1f %8.1f %8.1f %9.0f%%  %-12s",
                    qPrintable(QStringLiteral("%1%2").arg(QLatin1String(size),
                                                          recording ? QStringLiteral(" +rec") : QString())),
                    100.0 * double(shown) / (wall * 30.0), at(0.5), at(0.95), at(0.99),
                    100.0 * (after.process - before.process) / wall, qPrintable(cores));
        if (recording) {
            // Frames in the file per second of recording, counted by GStreamer's own demuxer.
            const QString description =
                QStringLiteral("filesrc location=\"%1\" ! asfdemux ! fakesink name=sink sync=false").arg(file);
            GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), nullptr);
            GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
            GstPad *pad = gst_element_get_static_pad(sink, "sink");
            struct Count {
                int frames = 0;
                GstClockTime first = GST_CLOCK_TIME_NONE, last = 0;
            } count;
            gst_pad_add_probe(
                pad, GST_PAD_PROBE_TYPE_BUFFER,
                [](GstPad *, GstPadProbeInfo *info, gpointer data) {
                    auto *c = static_cast<Count *>(data);
                    const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
                    if (c->frames++ == 0)
                        c->first = pts;
                    c->last = pts;
                    return GST_PAD_PROBE_OK;
                },
                &count, nullptr);
            gst_element_set_state(pipeline, GST_STATE_PLAYING);
            GstBus *bus = gst_element_get_bus(pipeline);
            if (GstMessage *m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                                           GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)))
                gst_message_unref(m);
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(bus);
            gst_object_unref(pad);
            gst_object_unref(sink);
            gst_object_unref(pipeline);
            const double span = count.frames > 1 ? double(count.last - count.first) / GST_SECOND : 0;
            std::printf(" %6.1f", span > 0 ? (count.frames - 1) / span : 0.0);
            QFile::remove(file);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    Q_UNUSED(home);
}

double percentile(std::vector<qint64> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[size_t(q * double(values.size() - 1))] / 1e6;
}

// The bare pipeline: the same synthetic source and caps, the same decoder, into fakesink.
// Returns the process's CPU share of one core over `seconds`.
double bare_pipeline(const MediaType &type, int seconds)
{
    SyntheticCamera::Declaration declaration;
    declaration.name = QStringLiteral("bare");
    declaration.types = {type};
    SyntheticCamera camera(declaration);
    GstElementHandle pipeline = gstSink(gst_pipeline_new("bare"));
    GstElement *source = gstAdd(GST_BIN(pipeline.get()), camera.createSource(type));
    GstElementHandle capsHandle = gstMake("capsfilter");
    g_object_set(capsHandle.get(), "caps", type.caps(), nullptr);
    GstElement *caps = gstAdd(GST_BIN(pipeline.get()), std::move(capsHandle));
    GstElement *decoder = type.isJpeg() ? gstAdd(GST_BIN(pipeline.get()), gstMake("jpegdec")) : nullptr;
    GstElementHandle sinkHandle = gstMake("fakesink");
    g_object_set(sinkHandle.get(), "sync", FALSE, nullptr);
    GstElement *sink = gstAdd(GST_BIN(pipeline.get()), std::move(sinkHandle));
    if (decoder)
        gst_element_link_many(source, caps, decoder, sink, nullptr);
    else
        gst_element_link_many(source, caps, sink, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    runEvents(1000);
    const CpuTimes before = readCpu();
    QElapsedTimer timer;
    timer.start();
    runEvents(seconds * 1000);
    const double wall = timer.elapsed() / 1000.0;
    const CpuTimes after = readCpu();
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return 100.0 * (after.process - before.process) / wall;
}

void live_path_vs_bare(Rig &rig, int seconds)
{
    std::printf("\n%-24s %9s %9s %7s %10s %8s %8s %8s\n", "live path vs bare, 30fps", "live CPU", "bare CPU", "extra",
                "to picture", "paint p50", "p99 ms", "limit");
    rig.window.show();
    for (const char *encoding : {"YUY2", "MJPG"}) {
        for (const char *size : {"1280x720", "1920x1080"}) {
            const QByteArray declaration = QByteArray("Bench:") + encoding + " " + size + "/fps=30";
            qputenv("EXAMSTATION_SYNTHETIC_CAMERA", declaration);
            const MediaType type = SyntheticCamera::parse(QString::fromLatin1(declaration)).value(0).types.value(0);
            rig.graph->setFrameObserver([&rig](qint64 ns) { rig.view->newestCapture.store(monotonicNs() - ns); });
            rig.graph->actPreviewExecute();
            runEvents(1000); // start-up of the stream is not measured
            {
                std::lock_guard guard(rig.view->mutex);
                rig.view->paintLatencies.clear();
            }
            const CpuTimes before = readCpu();
            const quint64 shownBefore = rig.graph->livePicture().framesShown();
            QElapsedTimer timer;
            timer.start();
            runEvents(seconds * 1000);
            const double wall = timer.elapsed() / 1000.0;
            const quint64 shown = rig.graph->livePicture().framesShown() - shownBefore;
            const CpuTimes after = readCpu();
            rig.graph->actStopExecute();
            rig.graph->setFrameObserver({});
            rig.view->newestCapture.store(0);
            std::vector<qint64> latencies;
            {
                std::lock_guard guard(rig.view->mutex);
                latencies = rig.view->paintLatencies;
            }
            const double live = 100.0 * (after.process - before.process) / wall;
            const double bare = bare_pipeline(type, seconds);
            std::printf("%-24s %8.0f%% %8.0f%% %6.0f%% %9.1f%% %8.1f %8.1f %8.1f\n",
                        qPrintable(QStringLiteral("%1 %2").arg(QLatin1String(encoding), QLatin1String(size))), live,
                        bare, bare > 0 ? 100.0 * (live - bare) / bare : 0.0, 100.0 * double(shown) / (wall * 30.0),
                        percentile(latencies, 0.5), percentile(latencies, 0.99), 2 * 1000.0 / 30);
            std::fflush(stdout);
        }
    }
    rig.window.hide();
}

// The bare H.264 pipeline: the synthetic source and caps straight into the recorder's own branch
// (Recording::attach builds it as in the workstation), no tee, no live picture. Returns the
// process's CPU share of one core over `seconds`.
double bare_h264_pipeline(const MediaType &type, const QString &home, int seconds)
{
    SyntheticCamera::Declaration declaration;
    declaration.name = QStringLiteral("bare");
    declaration.types = {type};
    SyntheticCamera camera(declaration);
    GstElementHandle pipeline = gstSink(gst_pipeline_new("bare"));
    GstElement *source = gstAdd(GST_BIN(pipeline.get()), camera.createSource(type));
    GstElementHandle capsHandle = gstMake("capsfilter");
    g_object_set(capsHandle.get(), "caps", type.caps(), nullptr);
    GstElement *caps = gstAdd(GST_BIN(pipeline.get()), std::move(capsHandle));
    gst_element_link(source, caps);
    Recording recorder(nullptr, nullptr, nullptr);
    recorder.setVideoFolder(home + QStringLiteral("video/"));
    if (!recorder.attach(GST_BIN(pipeline.get()), caps, MediaTypeFrameSize(type)))
        return 0;
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    runEvents(1000);
    const CpuTimes before = readCpu();
    QElapsedTimer timer;
    timer.start();
    runEvents(seconds * 1000);
    const double wall = timer.elapsed() / 1000.0;
    const CpuTimes after = readCpu();
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    QFile::remove(recorder.file());
    return 100.0 * (after.process - before.process) / wall;
}

void h264_recording_vs_bare(Rig &rig, const QString &home, int seconds)
{
    WriteConfigString(QStringLiteral("video"), QStringLiteral("format"), QStringLiteral("mp4"));
    std::printf("\n%-24s %10s %9s %9s %7s\n", "H.264 rec, 30 fps", "to picture", "live+rec", "bare enc", "ratio");
    const QByteArray declaration = "Bench:YUY2 1280x720/fps=30";
    qputenv("EXAMSTATION_SYNTHETIC_CAMERA", declaration);
    const MediaType type = SyntheticCamera::parse(QString::fromLatin1(declaration)).value(0).types.value(0);
    rig.graph->btnRecordClick();
    runEvents(1000); // start-up of the stream is not measured
    const CpuTimes before = readCpu();
    const quint64 shownBefore = rig.graph->livePicture().framesShown();
    QElapsedTimer timer;
    timer.start();
    runEvents(seconds * 1000);
    const double wall = timer.elapsed() / 1000.0;
    const quint64 shown = rig.graph->livePicture().framesShown() - shownBefore;
    const CpuTimes after = readCpu();
    const QString file = rig.graph->recordingFile();
    rig.graph->btnRecordClick();
    rig.graph->actStopExecute();
    QFile::remove(file);
    const double live = 100.0 * (after.process - before.process) / wall;
    const double bare = bare_h264_pipeline(type, home, seconds);
    std::printf("%-24s %9.1f%% %8.0f%% %8.0f%% %7.2f\n", "1280x720 mp4", 100.0 * double(shown) / (wall * 30.0), live,
                bare, bare > 0 ? live / bare : 0.0);
    std::fflush(stdout);
    WriteConfigString(QStringLiteral("video"), QStringLiteral("format"), QStringLiteral("wmv"));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    QTemporaryDir dir;
    const QString home = dir.path() + u'/';
    ProgramFolder::set(home);
    SetConfigFolder(home);
    QDir().mkpath(home + QStringLiteral("video"));
    Rig rig(home);
    if (argc > 2 && qstrcmp(argv[2], "h264") == 0) {
        h264_recording_vs_bare(rig, home, seconds);
        return 0;
    }

    preview_reaction_vs_memcpy(rig);
    std::printf("\n%-24s %10s %8s %8s %8s %10s  %-12s %6s\n", "live pipeline, 30 fps", "to picture", "lat p50", "p95",
                "p99 ms", "CPU/core", "per core", "rec fps");
    live_pipeline(rig, home, seconds, false);
    live_pipeline(rig, home, seconds, true);
    live_path_vs_bare(rig, seconds);
    h264_recording_vs_bare(rig, home, seconds);
    return 0;
}

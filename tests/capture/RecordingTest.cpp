#include "CaptureFixture.h"
#include "MediaProbe.h"
#include "capture/SyntheticCamera.h"
#include "core/inifunc.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <gst/gst.h>

namespace {

// What GStreamer itself makes of a recording: the demuxed stream's caps, and the decoded
// frames' size, count and time stamps.
struct DecodedRecording {
    QString streamCaps;
    int wmvVersion = 0;
    QSize size;
    int frames = 0;
    GstClockTime firstPts = GST_CLOCK_TIME_NONE;
    GstClockTime lastPts = GST_CLOCK_TIME_NONE;
    bool reachedEnd = false;
    QString error;

    double seconds() const { return frames > 1 ? double(lastPts - firstPts) / GST_SECOND : 0.0; }
};

DecodedRecording Decode(const QString &file)
{
    DecodedRecording result;
    const QString description =
        QStringLiteral("filesrc location=\"%1\" ! asfdemux ! video/x-wmv ! avdec_wmv1 name=decoder ! "
                       "video/x-raw ! fakesink name=sink sync=false")
            .arg(file);
    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
    if (!pipeline) {
        result.error = QString::fromUtf8(error ? error->message : "no pipeline");
        g_clear_error(&error);
        return result;
    }
    GstElement *decoder = gst_bin_get_by_name(GST_BIN(pipeline), "decoder");
    GstElement *sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad *encodedPad = gst_element_get_static_pad(decoder, "sink");
    GstPad *decodedPad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(
        encodedPad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad *, GstPadProbeInfo *info, gpointer data) {
            GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
                GstCaps *caps = nullptr;
                gst_event_parse_caps(event, &caps);
                auto *r = static_cast<DecodedRecording *>(data);
                gchar *text = gst_caps_to_string(caps);
                r->streamCaps = QString::fromUtf8(text);
                g_free(text);
                gst_structure_get_int(gst_caps_get_structure(caps, 0), "wmvversion", &r->wmvVersion);
            }
            return GST_PAD_PROBE_OK;
        },
        &result, nullptr);
    gst_pad_add_probe(
        decodedPad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        [](GstPad *, GstPadProbeInfo *info, gpointer data) {
            auto *r = static_cast<DecodedRecording *>(data);
            if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
                const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
                if (r->frames++ == 0)
                    r->firstPts = pts;
                r->lastPts = pts;
            } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_CAPS) {
                GstCaps *caps = nullptr;
                gst_event_parse_caps(GST_PAD_PROBE_INFO_EVENT(info), &caps);
                int w = 0, h = 0;
                gst_structure_get_int(gst_caps_get_structure(caps, 0), "width", &w);
                gst_structure_get_int(gst_caps_get_structure(caps, 0), "height", &h);
                r->size = QSize(w, h);
            }
            return GST_PAD_PROBE_OK;
        },
        &result, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus *bus = gst_element_get_bus(pipeline);
    GstMessage *message =
        gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        result.reachedEnd = true;
    } else if (message) {
        GError *failure = nullptr;
        gst_message_parse_error(message, &failure, nullptr);
        result.error = QString::fromUtf8(failure ? failure->message : "error");
        g_clear_error(&failure);
    }
    if (message)
        gst_message_unref(message);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    for (gpointer object : {gpointer(bus), gpointer(encodedPad), gpointer(decodedPad), gpointer(decoder),
                            gpointer(sink), gpointer(pipeline)})
        gst_object_unref(object);
    return result;
}

} // namespace

class RecordingTest : public CaptureFixture {
protected:
    RecordingTest()
    {
        graph->setCaptionLookup([](const QString &key, const QString &) { return key; });
    }

    // Records for about `ms` milliseconds and returns the finished file and the time it ran.
    std::pair<QString, double> record(int ms)
    {
        graph->btnRecordClick();
        const QString file = graph->recordingFile();
        QElapsedTimer timer;
        timer.start();
        waitUntil([] { return false; }, ms);
        graph->btnRecordClick();
        return {file, timer.elapsed() / 1000.0};
    }
};

TEST_F(RecordingTest, RecordingIsAPlayableWmv1FileAt640x480And15Fps)
{
    declareCameras("1");
    graph->actPreviewExecute();
    edtNumber->setText(QStringLiteral(" 10023 "));
    const auto [file, seconds] = record(2500);
    ASSERT_FALSE(file.isEmpty());
    EXPECT_TRUE(graph->recordingFile().isEmpty());
    EXPECT_TRUE(QFileInfo(file).fileName().contains(QRegularExpression(QStringLiteral("^10023_\\d{8}_\\d{6}\\.wmv$"))))
        << file.toStdString();
    EXPECT_EQ(QFileInfo(file).path() + u'/', home.file(QStringLiteral("video/")));

    const DecodedRecording decoded = Decode(file);
    EXPECT_TRUE(decoded.reachedEnd) << decoded.error.toStdString();
    EXPECT_EQ(decoded.wmvVersion, 1) << decoded.streamCaps.toStdString();
    EXPECT_EQ(decoded.size, QSize(640, 480));
    // 15 frames per second over the time the recording ran (start-up of the stream aside).
    EXPECT_NEAR(decoded.seconds(), seconds, 0.8);
    ASSERT_GT(decoded.seconds(), 1.0);
    EXPECT_NEAR((decoded.frames - 1) / decoded.seconds(), 15.0, 1.0);
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

TEST_F(RecordingTest, CaptureSizeOf1280x720StillRecords640x480)
{
    declareCameras("YUY2 1280x720");
    graph->actPreviewExecute();
    const auto [file, seconds] = record(1200);
    const DecodedRecording decoded = Decode(file);
    EXPECT_TRUE(decoded.reachedEnd) << decoded.error.toStdString();
    EXPECT_EQ(decoded.size, QSize(640, 480));
    EXPECT_GT(decoded.frames, 5);
}

// config.ini [video] format=mp4: H.264 High profile within level 4.1 at the capture size and the
// camera's 30 frames per second, as ffprobe reads it.
struct Mp4Case {
    const char *camera;
    QSize size;
};

class Mp4RecordingTest : public RecordingTest, public ::testing::WithParamInterface<Mp4Case> { };

TEST_P(Mp4RecordingTest, RecordsH264HighProfileAtTheCaptureSize)
{
    WriteConfigString(QStringLiteral("video"), QStringLiteral("format"), QStringLiteral("mp4"));
    declareCameras(GetParam().camera);
    graph->actPreviewExecute();
    edtNumber->setText(QStringLiteral("10023"));
    const auto [file, seconds] = record(3000);
    EXPECT_TRUE(QFileInfo(file).fileName().contains(QRegularExpression(QStringLiteral("^10023_\\d{8}_\\d{6}\\.mp4$"))))
        << file.toStdString();

    const VideoProbe probe = ProbeVideo(file);
    ASSERT_TRUE(probe.error.isEmpty()) << probe.error.toStdString();
    EXPECT_EQ(probe.codec, QStringLiteral("h264"));
    EXPECT_EQ(probe.profile, QStringLiteral("High"));
    EXPECT_GT(probe.level, 0);
    EXPECT_LE(probe.level, 41);
    EXPECT_EQ(probe.size, GetParam().size);
    EXPECT_NEAR(probe.fps, 30.0, 1.0);
    EXPECT_NEAR(probe.seconds, seconds, 0.3);
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, Mp4RecordingTest,
                         ::testing::Values(Mp4Case{"YUY2 640x480", QSize(640, 480)},
                                           Mp4Case{"YUY2 1280x720", QSize(1280, 720)}));

TEST(Mp4FrameSizeTest, CaptureSizeWithinFullHdWithEvenSides)
{
    EXPECT_EQ(Recording::mp4FrameSize(QSize(1920, 1080)), QSize(1920, 1080));
    EXPECT_EQ(Recording::mp4FrameSize(QSize(2592, 1944)), QSize(1440, 1080));
    EXPECT_EQ(Recording::mp4FrameSize(QSize(3840, 2400)), QSize(1728, 1080));
    EXPECT_EQ(Recording::mp4FrameSize(QSize(2000, 1125)), QSize(1920, 1080));
}

TEST_F(RecordingTest, FrozenPictureStillGetsAFinishedFile)
{
    declareCameras("1");
    graph->btnRecordClick();
    const QString file = graph->recordingFile();
    waitUntil([] { return false; }, 1200);
    graph->ImagemovieClick();
    ASSERT_EQ(graph->graphState(), GraphState::Paused);
    graph->actStopExecute();
    const DecodedRecording decoded = Decode(file);
    EXPECT_TRUE(decoded.reachedEnd) << decoded.error.toStdString();
    EXPECT_GT(decoded.frames, 5);
}

TEST_F(RecordingTest, PulledCameraFinishesTheFileUpToItsLastFrame)
{
    declareCameras("Cam:640x480");
    graph->btnRecordClick();
    const QString file = graph->recordingFile();
    QElapsedTimer timer;
    timer.start();
    waitUntil([] { return false; }, 2000);
    SyntheticCamera::setPresent(QStringLiteral("Cam"), false);
    const double pulledAt = timer.elapsed() / 1000.0;
    ASSERT_TRUE(waitUntil([&] { return graph->cameraLost(); }));
    EXPECT_TRUE(graph->recordingFile().isEmpty());

    const DecodedRecording decoded = Decode(file);
    EXPECT_TRUE(decoded.reachedEnd) << decoded.error.toStdString();
    // The file holds the frames up to the moment the cable was pulled.
    EXPECT_NEAR(decoded.seconds(), pulledAt, 0.8);
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

TEST_F(RecordingTest, CaptionFollowsTheFlag)
{
    declareCameras("1");
    graph->btnRecordClick();
    EXPECT_TRUE(graph->recording());
    EXPECT_EQ(btnRecord->text(), QStringLiteral("btnRecordEnd.Caption"));
    EXPECT_FALSE(graph->recordingFile().isEmpty());
    graph->btnRecordClick();
    EXPECT_FALSE(graph->recording());
    EXPECT_EQ(btnRecord->text(), QStringLiteral("btnRecordStart.Caption"));
    EXPECT_TRUE(graph->recordingFile().isEmpty());
}

TEST_F(RecordingTest, EveryPreviewStartWhileRecordingBeginsANewFileWithoutOverwriting)
{
    declareCameras("640x480,1280x720");
    graph->btnRecordClick();
    const QString first = graph->recordingFile();
    TrackBar1->setValue(2); // the size changes within the same second
    const QString second = graph->recordingFile();
    waitUntil([] { return false; }, 1000);
    graph->btnRecordClick();
    EXPECT_NE(first, second);
    EXPECT_TRUE(Decode(first).reachedEnd);
    EXPECT_TRUE(Decode(second).reachedEnd);
}

TEST(RecordingFileNameTest, NumberDateAndTimeAndNeverATakenName)
{
    QTemporaryDir folder;
    const QString path = folder.path() + u'/';
    const QDateTime when(QDate(2016, 5, 1), QTime(14, 25, 30));
    EXPECT_EQ(CaptureGraph::RecordingFileName(path, QStringLiteral("10023"), when), path + "10023_20160501_142530.wmv");
    EXPECT_EQ(CaptureGraph::RecordingFileName(path, QStringLiteral(" \t"), when), path + "20160501_142530.wmv");
    QFile(path + "20160501_142530.wmv").open(QIODevice::WriteOnly);
    EXPECT_EQ(CaptureGraph::RecordingFileName(path, QString(), when), path + "20160501_142530_2.wmv");
    QFile(path + "20160501_142530_2.wmv").open(QIODevice::WriteOnly);
    EXPECT_EQ(CaptureGraph::RecordingFileName(path, QString(), when), path + "20160501_142530_3.wmv");
    // A typed number never reaches outside the video folder.
    EXPECT_EQ(CaptureGraph::RecordingFileName(path, QStringLiteral("../x"), when), path + ".._x_20160501_142530.wmv");
    EXPECT_EQ(CaptureGraph::RecordingFileName(path, QString(), when, Recording::Format::Mp4),
              path + "20160501_142530.mp4");
}

TEST_F(RecordingTest, MissingEncoderShowsTheStepAndThePreviewGoesOnWithoutRecording)
{
    declareCameras("1");
    GstRegistry *registry = gst_registry_get();
    GstPluginFeature *encoder = gst_registry_lookup_feature(registry, "avenc_wmv1");
    ASSERT_NE(encoder, nullptr);
    gst_registry_remove_feature(registry, encoder);
    graph->btnRecordClick();
    gst_registry_add_feature(registry, encoder);
    gst_object_unref(encoder);

    ASSERT_EQ(dialogs.boxes().size(), 1);
    EXPECT_EQ(dialogs.boxes()[0].text,
              QStringLiteral("Error   on   Call   gst_element_factory_make(avenc_wmv1)   (C) "));
    EXPECT_EQ(dialogs.boxes()[0].kind, Dialogs::Kind::Plain) << "the box has no icon";
    EXPECT_TRUE(graph->recordingFile().isEmpty());
    EXPECT_EQ(graph->graphState(), GraphState::Running);
    EXPECT_TRUE(waitForFrames(2));
}

#include "capture/Recording.h"

#include "capture/BusWatch.h"
#include "capture/Logging.h"
#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <iterator>
#include <tuple>
#include <utility>

namespace {

// The recording's fixed shape, whatever the capture size.
constexpr int kRecordWidth = 640;
constexpr int kRecordHeight = 480;
constexpr int kRecordFps = 15;
constexpr int kRecordBitrate = 1000000;
constexpr int kKeyFrameSeconds = 5;

// H.264 High Profile / Level 4.1 holds at most 1920 x 1080 at 30 frames per second (8,160
// macroblocks a frame, 245,760 a second) and 62.5 Mbit/s; the clip keeps the capture size within
// that, at about 0.15 bit a pixel (4 Mbit/s at 720p, 9 Mbit/s at 1080p), a key frame every 2 s.
constexpr int kMp4MaxWidth = 1920;
constexpr int kMp4MaxHeight = 1080;
constexpr int kMp4MaxFps = 30;
constexpr double kMp4BitsPerPixel = 0.15;
constexpr int kMp4KeyFrameSeconds = 2;

QString trimmedNumber(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

// A patient number is typed by the operator; characters a file name cannot hold become "_".
QString safeForFileName(QString text)
{
    for (QChar &c : text)
        if (c == u'/' || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>'
            || c == u'|' || c.unicode() < 32)
            c = u'_';
    return text;
}

} // namespace

Recording::Recording(QPushButton *btnRecord, QLineEdit *edtNumber, QWidget *owner)
    : m_btnRecord(btnRecord)
    , m_edtNumber(edtNumber)
    , m_owner(owner)
{
}

QString Recording::videoFolder() const
{
    return m_videoFolder.isEmpty() ? ProgramFolder::file(QStringLiteral("video/")) : m_videoFolder;
}

Recording::Format Recording::configuredFormat()
{
    const QString value = ReadConfigString(QStringLiteral("video"), QStringLiteral("format"), QStringLiteral("wmv"));
    return value.trimmed().compare(QLatin1String("mp4"), Qt::CaseInsensitive) == 0 ? Format::Mp4 : Format::Wmv;
}

QSize Recording::mp4FrameSize(QSize capture)
{
    if (capture.isEmpty())
        capture = QSize(kRecordWidth, kRecordHeight);
    const QSize fitted = capture.width() > kMp4MaxWidth || capture.height() > kMp4MaxHeight
        ? capture.scaled(kMp4MaxWidth, kMp4MaxHeight, Qt::KeepAspectRatio)
        : capture;
    // 4:2:0 chroma needs even sides.
    return QSize(fitted.width() & ~1, fitted.height() & ~1);
}

QString Recording::RecordingFileName(const QString &folder, const QString &patientNumber, const QDateTime &when,
                                     Format format)
{
    const QString extension = format == Format::Mp4 ? QStringLiteral(".mp4") : QStringLiteral(".wmv");
    const QString number = safeForFileName(trimmedNumber(patientNumber));
    QString base = when.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    if (!number.isEmpty())
        base = number + u'_' + base;
    QString name = folder + base + extension;
    // Two starts within one second would otherwise write over the first recording.
    for (int suffix = 2; QFile::exists(name); ++suffix)
        name = folder + base + QStringLiteral("_%1").arg(suffix) + extension;
    return name;
}

void Recording::updateRecordCaption()
{
    if (!m_btnRecord)
        return;
    const QString builtIn = QStringLiteral("录像");
    const QString key = m_on ? QStringLiteral("btnRecordEnd.Caption") : QStringLiteral("btnRecordStart.Caption");
    m_btnRecord->setText(m_captionLookup ? m_captionLookup(key, builtIn) : builtIn);
}

int Recording::ConfigureRecordingProfile(GstElement *writer, int width, int height, int fps)
{
    struct Step {
        const char *factory;
        const char *name;
    };
    // Frame rate first, so frames dropped to reach the rate are never scaled or converted.
    static const Step wmvSteps[] = {{"queue", "RecordQueue"},        {"videorate", "RecordRate"},
                                    {"videoscale", "RecordScale"},   {"videoconvert", "RecordConvert"},
                                    {"capsfilter", "RecordProfile"}, {"avenc_wmv1", "RecordEncoder"},
                                    {"asfmux", "RecordMuxer"}};
    static const Step mp4Steps[] = {{"queue", "RecordQueue"},          {"videorate", "RecordRate"},
                                    {"videoscale", "RecordScale"},     {"videoconvert", "RecordConvert"},
                                    {"capsfilter", "RecordProfile"},   {"x264enc", "RecordEncoder"},
                                    {"capsfilter", "RecordH264Level"}, {"mp4mux", "RecordMuxer"}};
    const bool mp4 = m_format == Format::Mp4;
    const Step *steps = mp4 ? mp4Steps : wmvSteps;
    const size_t count = mp4 ? std::size(mp4Steps) : std::size(wmvSteps);
    const char *encoderName = steps[5].factory;
    auto fail = [this](const QString &call, int code) {
        // The message's runs of three blanks and its final blank are the system's own wording.
        const QString text =
            QStringLiteral("Error   on   Call   %1   (%2) ").arg(call, QString::number(quint32(code), 16).toUpper());
        Dialogs::show(Dialogs::Kind::Plain, ErrorDisplay::caption(), text, m_owner);
        return code;
    };

    GstElementHandle made[std::size(mp4Steps)];
    for (size_t i = 0; i < count; ++i) {
        made[i] = gstMake(steps[i].factory, steps[i].name);
        if (!made[i])
            return fail(QStringLiteral("gst_element_factory_make(%1)").arg(QLatin1String(steps[i].factory)),
                        GST_CORE_ERROR_MISSING_PLUGIN);
    }
    GstElement *added[std::size(mp4Steps)] = {};
    for (size_t i = 0; i < count; ++i)
        if (!(added[i] = gstAdd(GST_BIN(writer), std::move(made[i]))))
            return fail(QStringLiteral("gst_bin_add(%1)").arg(QLatin1String(steps[i].factory)), GST_CORE_ERROR_FAILED);
    auto [queue, rate, scale, convert, profile, encoder] =
        std::tuple{added[0], added[1], added[2], added[3], added[4], added[5]};

    GstCapsHandle caps;
    if (mp4) {
        // The live picture must never wait for the encoder: a queue that is full (the encoder two
        // seconds behind) drops its oldest frame rather than holding the camera's thread.
        g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64(2 * GST_SECOND),
                     "leaky", 2 /* downstream */, nullptr);
        // A faster camera is brought down to the level's rate; a slower one keeps its own.
        g_object_set(rate, "max-rate", fps, nullptr);
        caps.reset(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, width,
                                       "height", G_TYPE_INT, height, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1,
                                       nullptr));
        // superfast: about a third of veryfast's CPU on the 2-core workstations, still CABAC and
        // the 8x8 transform (High profile); B-frames stay, the clip is not watched live.
        const guint kbits = guint(double(width) * height * fps * kMp4BitsPerPixel / 1000);
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", "superfast");
        g_object_set(encoder, "bitrate", kbits, "key-int-max", guint(fps * kMp4KeyFrameSeconds), nullptr);
        GstCapsHandle level(gst_caps_new_simple("video/x-h264", "profile", G_TYPE_STRING, "high", "level",
                                                G_TYPE_STRING, "4.1", nullptr));
        g_object_set(added[6], "caps", level.get(), nullptr);
    } else {
        // Recording must not lose frames to a busy encoder for a moment: up to two seconds queue.
        g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64(2 * GST_SECOND),
                     nullptr);
        caps.reset(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, width,
                                       "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, fps, 1,
                                       "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
        g_object_set(encoder, "bitrate", kRecordBitrate, "gop-size", fps * kKeyFrameSeconds, nullptr);
    }
    g_object_set(profile, "caps", caps.get(), nullptr);

    bool linked = true;
    for (size_t i = 0; i + 1 < count && linked; ++i)
        linked = gst_element_link(added[i], added[i + 1]);
    if (!linked)
        return fail(QStringLiteral("gst_element_link_many(%1)").arg(QLatin1String(encoderName)),
                    GST_CORE_ERROR_NEGOTIATION);
    GstPadHandle sink(gst_element_get_static_pad(queue, "sink"));
    gst_element_add_pad(writer, gst_ghost_pad_new("sink", sink.get()));
    return 0;
}

bool Recording::attach(GstBin *pipeline, GstElement *tee, QSize captureSize)
{
    detach();
    m_format = configuredFormat();
    GstElement *writer = gstAdd(pipeline, gstSink(gst_bin_new("ASFWriter")));
    if (!writer)
        return false;
    auto drop = [&] {
        gst_element_set_state(writer, GST_STATE_NULL);
        gst_bin_remove(pipeline, writer);
        return false;
    };
    const QString number = m_edtNumber ? m_edtNumber->text().trimmed() : QString();
    const QString file = RecordingFileName(videoFolder(), number, QDateTime::currentDateTime(), m_format);
    const QSize size = m_format == Format::Mp4 ? mp4FrameSize(captureSize) : QSize(kRecordWidth, kRecordHeight);
    // Without its encoder the branch cannot record at all.
    if (ConfigureRecordingProfile(writer, size.width(), size.height(),
                                  m_format == Format::Mp4 ? kMp4MaxFps : kRecordFps)
        != 0)
        return drop();
    GstElementHandle fileSinkHandle = gstMake("filesink", "RecordFile");
    if (!fileSinkHandle)
        return drop();
    g_object_set(fileSinkHandle.get(), "location", QFile::encodeName(file).constData(), "sync", FALSE, "async", FALSE,
                 nullptr);
    GstElement *fileSink = gstAdd(GST_BIN(writer), std::move(fileSinkHandle));
    GstElementHandle muxer(gst_bin_get_by_name(GST_BIN(writer), "RecordMuxer"));
    if (!fileSink || !gst_element_link(muxer.get(), fileSink) || !gst_element_link(tee, writer))
        return drop();
    // The file sink's end-of-stream message comes up wrapped by the writer bin, whatever the
    // other branches do (the pipeline's own end of stream waits for every sink).
    g_object_set(writer, "message-forward", TRUE, nullptr);
    m_writer = writer;
    m_file = file;
    m_patientNumber = number;
    return true;
}

void Recording::detach()
{
    m_writer = nullptr;
    m_file.clear();
    m_patientNumber.clear();
    m_endSent = m_finished = false;
}

bool Recording::end(GstElement *pipeline)
{
    if (!m_writer || m_finished)
        return false;
    if (m_endSent)
        return true;
    GstState current = GST_STATE_NULL;
    gst_element_get_state(pipeline, &current, nullptr, 0);
    if (current < GST_STATE_PAUSED)
        return false; // nothing ever flowed: no end can come back
    // A frozen (paused) live source lets no data flow, so let it run for the end.
    if (current == GST_STATE_PAUSED)
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // The end of stream goes straight into the writer, so the muxer writes the file's index and
    // final header. (The source's own end of stream may have got there first; the second is then
    // refused.)
    m_endSent = true;
    GstPadHandle input(gst_element_get_static_pad(m_writer, "sink"));
    if (input)
        gst_pad_send_event(input.get(), gst_event_new_eos());
    return true;
}

void Recording::finish(GstElement *pipeline, BusWatch &bus, GstClockTime timeout)
{
    // A start still under way is let finish first, so the end of stream follows real frames.
    if (m_writer && !m_finished)
        gst_element_get_state(pipeline, nullptr, nullptr, 2 * GST_SECOND);
    if (end(pipeline) && !bus.waitFor([this] { return m_finished; }, timeout))
        qCWarning(lcCapture) << "the recording" << m_file << "did not finish in time";
}

bool Recording::handleMessage(GstMessage *message)
{
    if (!m_writer || GST_MESSAGE_TYPE(message) != GST_MESSAGE_ELEMENT
        || GST_MESSAGE_SRC(message) != GST_OBJECT(m_writer))
        return false;
    const GstStructure *forwarded = gst_message_get_structure(message);
    if (!forwarded || !gst_structure_has_name(forwarded, "GstBinForwarded"))
        return false;
    GstMessage *inner = nullptr;
    gst_structure_get(forwarded, "message", GST_TYPE_MESSAGE, &inner, nullptr);
    GstMessageHandle held(inner);
    if (!inner || GST_MESSAGE_TYPE(inner) != GST_MESSAGE_EOS)
        return false;
    m_finished = true;
    return true;
}

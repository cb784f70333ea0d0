// The recording half of the capture graph: the record button, the file name and the branch
// that encodes the capture stream into a WMV file.
#include "capture/CaptureGraph.h"
#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"

#include <QDesktopServices>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include <iterator>
#include <tuple>

namespace {

// The recording's fixed shape, whatever the capture size.
constexpr int kRecordWidth = 640;
constexpr int kRecordHeight = 480;
constexpr int kRecordFps = 15;
constexpr int kRecordBitrate = 1000000;
constexpr int kKeyFrameSeconds = 5;

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

QString CaptureGraph::videoFolder() const
{
    return m_videoFolder.isEmpty() ? ProgramFolder::file(QStringLiteral("video/")) : m_videoFolder;
}

QString CaptureGraph::RecordingFileName(const QString &folder, const QString &patientNumber, const QDateTime &when)
{
    const QString number = safeForFileName(trimmedNumber(patientNumber));
    QString base = when.toString(QStringLiteral("yyyyMMdd_HHmmss"));
    if (!number.isEmpty())
        base = number + u'_' + base;
    QString name = folder + base + QStringLiteral(".wmv");
    // Two starts within one second would otherwise write over the first recording.
    for (int suffix = 2; QFile::exists(name); ++suffix)
        name = folder + base + QStringLiteral("_%1.wmv").arg(suffix);
    return name;
}

void CaptureGraph::btnRecordClick()
{
    m_recording = !m_recording;
    actPreviewExecute();
    updateRecordCaption();
}

void CaptureGraph::updateRecordCaption()
{
    if (!m_controls.btnRecord)
        return;
    const QString builtIn = QStringLiteral("录像");
    const QString key = m_recording ? QStringLiteral("btnRecordEnd.Caption") : QStringLiteral("btnRecordStart.Caption");
    m_controls.btnRecord->setText(m_captionLookup ? m_captionLookup(key, builtIn) : builtIn);
}

void CaptureGraph::btnOpenVideoClick()
{
    // As with the shell's "open", a folder that cannot be shown is not reported.
    QDesktopServices::openUrl(QUrl::fromLocalFile(videoFolder()));
}

int CaptureGraph::ConfigureRecordingProfile(GstElement *writer, int width, int height, int fps)
{
    struct Step {
        const char *factory;
        const char *name;
    };
    // Frame rate first, so frames dropped to reach 15 per second are never scaled or converted.
    static const Step steps[] = {{"queue", "RecordQueue"},        {"videorate", "RecordRate"},
                                 {"videoscale", "RecordScale"},   {"videoconvert", "RecordConvert"},
                                 {"capsfilter", "RecordProfile"}, {"avenc_wmv1", "RecordEncoder"},
                                 {"asfmux", "RecordMuxer"}};
    auto fail = [this](const QString &call, int code) {
        // The message's runs of three blanks and its final blank are the system's own wording.
        const QString text =
            QStringLiteral("Error   on   Call   %1   (%2) ").arg(call, QString::number(quint32(code), 16).toUpper());
        Dialogs::show(Dialogs::Kind::Plain, ErrorDisplay::caption(), text, m_controls.owner);
        return code;
    };

    GstElementHandle made[std::size(steps)];
    for (size_t i = 0; i < std::size(steps); ++i) {
        made[i] = gstMake(steps[i].factory, steps[i].name);
        if (!made[i])
            return fail(QStringLiteral("gst_element_factory_make(%1)").arg(QLatin1String(steps[i].factory)),
                        GST_CORE_ERROR_MISSING_PLUGIN);
    }
    GstElement *added[std::size(steps)] = {};
    for (size_t i = 0; i < std::size(steps); ++i)
        if (!(added[i] = gstAdd(GST_BIN(writer), std::move(made[i]))))
            return fail(QStringLiteral("gst_bin_add(%1)").arg(QLatin1String(steps[i].factory)), GST_CORE_ERROR_FAILED);
    auto [queue, rate, scale, convert, profile, encoder, muxer] =
        std::tuple{added[0], added[1], added[2], added[3], added[4], added[5], added[6]};

    // Recording must not lose frames to a busy encoder for a moment: up to two seconds queue.
    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64(2 * GST_SECOND),
                 nullptr);
    GstCapsHandle caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, width,
                                           "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, fps, 1,
                                           "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    g_object_set(profile, "caps", caps.get(), nullptr);
    g_object_set(encoder, "bitrate", kRecordBitrate, "gop-size", fps * kKeyFrameSeconds, nullptr);

    if (!gst_element_link_many(queue, rate, scale, convert, profile, encoder, muxer, nullptr))
        return fail(QStringLiteral("gst_element_link_many(avenc_wmv1)"), GST_CORE_ERROR_NEGOTIATION);
    GstPadHandle sink(gst_element_get_static_pad(queue, "sink"));
    gst_element_add_pad(writer, gst_ghost_pad_new("sink", sink.get()));
    return 0;
}

void CaptureGraph::recordingBranch()
{
    GstElement *writer = gstAdd(GST_BIN(m_pipeline.get()), gstSink(gst_bin_new("ASFWriter")));
    if (!writer)
        throw BuildStopped{};
    const QString file = RecordingFileName(
        videoFolder(), m_controls.edtNumber ? m_controls.edtNumber->text() : QString(), QDateTime::currentDateTime());
    if (ConfigureRecordingProfile(writer, kRecordWidth, kRecordHeight, kRecordFps) != 0) {
        // Without its encoder the branch cannot record at all; the preview goes on without it.
        gst_element_set_state(writer, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(m_pipeline.get()), writer);
        throw BuildStopped{};
    }
    GstElementHandle fileSinkHandle = gstMake("filesink", "RecordFile");
    if (!fileSinkHandle)
        throw BuildStopped{};
    g_object_set(fileSinkHandle.get(), "location", QFile::encodeName(file).constData(), "sync", FALSE, "async", FALSE,
                 nullptr);
    GstElement *fileSink = gstAdd(GST_BIN(writer), std::move(fileSinkHandle));
    if (!fileSink)
        throw BuildStopped{};
    // The file is complete once the end of stream reached its sink (a camera that went away
    // ends the recording this way).
    m_recordingEnded = false;
    GstPadHandle fileInput(gst_element_get_static_pad(fileSink, "sink"));
    gst_pad_add_probe(
        fileInput.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM,
        [](GstPad *, GstPadProbeInfo *info, gpointer graph) {
            if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
                static_cast<CaptureGraph *>(graph)->m_recordingEnded = true;
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    GstElementHandle muxer(gst_bin_get_by_name(GST_BIN(writer), "RecordMuxer"));
    if (!gst_element_link(muxer.get(), fileSink) || !gst_element_link(m_tee, writer))
        throw BuildStopped{};
    m_writer = writer;
    m_recordingFile = file;
}

#include "capture/ClipStream.h"

#include "capture/GstHandles.h"

#include <QFile>

#include <gst/app/gstappsink.h>

H264Clip readH264Clip(const QString &mp4File)
{
    H264Clip clip;
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    GstElementHandle pipeline = gstSink(gst_pipeline_new("ClipReader"));
    GstElementHandle sourceHandle = gstMake("filesrc");
    GstElementHandle demuxHandle = gstMake("qtdemux");
    GstElementHandle parseHandle = gstMake("h264parse");
    GstElementHandle sinkHandle = gstMake("appsink");
    if (!pipeline || !sourceHandle || !demuxHandle || !parseHandle || !sinkHandle) {
        clip.error = QStringLiteral("the MP4 reader (qtdemux, h264parse, appsink) is missing");
        return clip;
    }
    g_object_set(sourceHandle.get(), "location", QFile::encodeName(mp4File).constData(), nullptr);
    // Annex B access units: start codes, SPS and PPS in front of every key frame.
    GstCapsHandle caps(gst_caps_new_simple("video/x-h264", "stream-format", G_TYPE_STRING, "byte-stream", "alignment",
                                           G_TYPE_STRING, "au", nullptr));
    g_object_set(sinkHandle.get(), "caps", caps.get(), "sync", FALSE, nullptr);
    g_object_set(parseHandle.get(), "config-interval", -1, nullptr);
    GstBin *bin = GST_BIN(pipeline.get());
    GstElement *source = gstAdd(bin, std::move(sourceHandle));
    GstElement *demux = gstAdd(bin, std::move(demuxHandle));
    GstElement *parse = gstAdd(bin, std::move(parseHandle));
    GstElement *sink = gstAdd(bin, std::move(sinkHandle));
    gst_element_link(source, demux);
    gst_element_link(parse, sink);
    // The demuxer's video pad appears once it has read the file's header.
    g_signal_connect(demux, "pad-added", G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer parser) {
                         GstPadHandle input(gst_element_get_static_pad(GST_ELEMENT(parser), "sink"));
                         if (!gst_pad_is_linked(input.get()))
                             gst_pad_link(pad, input.get());
                     }),
                     parse);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        clip.error = QStringLiteral("the clip %1 cannot be read").arg(mp4File);
        return clip;
    }
    while (GstSampleHandle held{gst_app_sink_pull_sample(GST_APP_SINK(sink))}) {
        GstSample *sample = held.get();
        if (clip.frames++ == 0) {
            const GstStructure *format = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
            int width = 0, height = 0;
            gst_structure_get_int(format, "width", &width);
            gst_structure_get_int(format, "height", &height);
            clip.size = QSize(width, height);
            gst_structure_get_fraction(format, "framerate", &clip.fpsNumerator, &clip.fpsDenominator);
        }
        GstMapInfo map;
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            clip.stream.append(reinterpret_cast<const char *>(map.data), qsizetype(map.size));
            gst_buffer_unmap(buffer, &map);
        }
    }
    GstBusHandle bus(gst_element_get_bus(pipeline.get()));
    if (GstMessageHandle error{gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)}) {
        GError *failure = nullptr;
        gst_message_parse_error(error.get(), &failure, nullptr);
        clip.error = QStringLiteral("the clip %1 cannot be read: %2")
                         .arg(mp4File, QString::fromUtf8(failure ? failure->message : "error"));
        g_clear_error(&failure);
    } else if (clip.frames == 0) {
        clip.error = QStringLiteral("the clip %1 holds no H.264 video").arg(mp4File);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return clip;
}

double mp4Seconds(const QString &mp4File)
{
    QFile file(mp4File);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    auto number = [](const QByteArray &bytes, int at, int size) {
        quint64 value = 0;
        for (int i = 0; i < size && at + i < bytes.size(); ++i)
            value = (value << 8) | uchar(bytes[at + i]);
        return value;
    };
    // Boxes: 32-bit size (1: a 64-bit size follows the type) and a four-letter type. The movie
    // header lies in "moov", which the muxer writes after the frames.
    qint64 end = file.size();
    for (qint64 at = 0; at + 8 <= end;) {
        file.seek(at);
        const QByteArray head = file.read(16);
        quint64 size = number(head, 0, 4);
        const QByteArray type = head.mid(4, 4);
        int headSize = 8;
        if (size == 1) {
            size = number(head, 8, 8);
            headSize = 16;
        } else if (size == 0) {
            size = quint64(end - at);
        }
        if (size < quint64(headSize))
            return 0;
        if (type == "moov") {
            end = at + qint64(size);
            at += headSize; // into the movie box
            continue;
        }
        if (type == "mvhd") {
            file.seek(at + headSize);
            const QByteArray header = file.read(32);
            const bool wide = header.size() > 0 && header[0] == 1; // version 1: 64-bit times
            const quint64 scale = number(header, wide ? 20 : 12, 4);
            const quint64 duration = number(header, wide ? 24 : 16, wide ? 8 : 4);
            return scale > 0 ? double(duration) / double(scale) : 0;
        }
        at += qint64(size);
    }
    return 0;
}

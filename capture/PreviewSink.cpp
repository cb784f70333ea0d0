#include "capture/PreviewSink.h"

#include "capture/FrameCopy.h"
#include "capture/LivePicture.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>

PreviewSink::PreviewSink(LivePicture &live)
    : m_live(live)
{
}

GstFlowReturn PreviewSink::onPreviewSample(GstAppSink *sink, gpointer owner)
{
    auto *preview = static_cast<PreviewSink *>(owner);
    GstSampleHandle sample(gst_app_sink_pull_sample(sink));
    if (!sample || !preview->SampleGrabberBuffer(sample.get()) || !preview->m_frameObserver)
        return GST_FLOW_OK;
    // Capture time of the frame: its running time on the pipeline clock.
    GstBuffer *buffer = gst_sample_get_buffer(sample.get());
    const GstSegment *segment = gst_sample_get_segment(sample.get());
    GstObjectHandle<GstClock> clock(gst_element_get_clock(GST_ELEMENT(sink)));
    if (!buffer || !segment || !clock || !GST_BUFFER_PTS_IS_VALID(buffer))
        return GST_FLOW_OK;
    const GstClockTime captured = gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    const GstClockTime now = gst_clock_get_time(clock.get()) - gst_element_get_base_time(GST_ELEMENT(sink));
    preview->m_frameObserver(qint64(now) - qint64(captured));
    return GST_FLOW_OK;
}

// A one-frame leaky queue (the live picture wants the newest frame, never a backlog), the crop
// (set per build by fitTo), conversion to 24-bit BGR and the appsink. Cropping before the
// conversion converts only the pixels the live picture shows: at 1920 x 1080 a seventh of the
// frame.
GstElementHandle PreviewSink::make()
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

void PreviewSink::fitTo(GstElement *bin, const MediaType &type, QSize size)
{
    // The live picture shows the centre 640 x 480 of the frame: crop close to it before the
    // colour conversion. A margin of 16 pixels, and crops that are multiples of 16, keep every
    // shown pixel's neighbours and its place in the converter's chroma and dither patterns, so
    // the picture is the same as from the whole frame; the crop stays symmetric, so
    // CopyFrameCentre finds the same centre.
    auto cropOf = [](int whole, int shown) {
        const int spare = std::max(0, whole - shown);
        const int near = std::max(0, spare / 2 - 16) / 16 * 16;
        return std::pair{near, near + spare % 2};
    };
    const auto [left, right] = cropOf(size.width(), LivePicture::kWidth);
    const auto [top, bottom] = cropOf(size.height(), LivePicture::kHeight);
    GstElementHandle crop(gst_bin_get_by_name(GST_BIN(bin), "PreviewCrop"));
    if (crop)
        g_object_set(crop.get(), "left", left, "right", right, "top", top, "bottom", bottom, nullptr);
    // A camera that names no colorimetry and chroma siting gets the defaults of its frame
    // size (BT.709 and co-sited chroma from HD up); the cropped frame must keep them, not
    // take the defaults of its smaller size.
    GstVideoInfo info;
    GstElementHandle colorimetry(gst_bin_get_by_name(GST_BIN(bin), "PreviewColorimetry"));
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

bool PreviewSink::SampleGrabberBuffer(GstSample *sample)
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

    LivePicture &live = m_live;
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

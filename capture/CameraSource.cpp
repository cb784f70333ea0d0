#include "capture/CameraSource.h"

bool CameraSource::build(GstBin *pipeline, const CaptureDevice &device, const MediaType &type, GstElement *tee)
{
    GstElementHandle sourceHandle = device.createSource(type);
    GstElementHandle formatHandle = gstMake("capsfilter", "MediaType");
    if (!sourceHandle || !formatHandle)
        return false;
    gst_object_set_name(GST_OBJECT(sourceHandle.get()), "VideoSourceFilter");
    g_object_set(formatHandle.get(), "caps", type.caps(), nullptr);
    m_source = gstAdd(pipeline, std::move(sourceHandle));
    GstElement *format = gstAdd(pipeline, std::move(formatHandle));
    if (!m_source || !format || !gst_element_link(m_source, format))
        return false;

    // Compressed types are decoded before the tee: MJPG by jpegdec, anything else by decodebin,
    // whose output appears only once it knows the stream (the tee follows then).
    if (!type.isJpeg() && !type.isFrameFormat()) {
        GstElement *decoder = gstAdd(pipeline, gstMake("decodebin"));
        if (!decoder || !gst_element_link(format, decoder))
            return false;
        g_signal_connect(decoder, "pad-added", G_CALLBACK(+[](GstElement *, GstPad *pad, gpointer teeElement) {
                             GstPadHandle sink(gst_element_get_static_pad(GST_ELEMENT(teeElement), "sink"));
                             if (!gst_pad_is_linked(sink.get()))
                                 gst_pad_link(pad, sink.get());
                         }),
                         tee);
        return true;
    }
    GstElement *last = format;
    if (type.isJpeg()) {
        last = gstAdd(pipeline, gstMake("jpegdec"));
        if (!last || !gst_element_link(format, last))
            return false;
    }
    return gst_element_link(last, tee);
}

bool CameraSource::sent(GstMessage *message) const
{
    GstObject *from = GST_MESSAGE_SRC(message);
    return m_source && from && (from == GST_OBJECT(m_source) || gst_object_has_as_ancestor(from, GST_OBJECT(m_source)));
}

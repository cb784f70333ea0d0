#pragma once

#include "capture/GstHandles.h"
#include "capture/MediaType.h"

#include <QSize>

#include <functional>
#include <mutex>

typedef struct _GstAppSink GstAppSink;
class LivePicture;

// The preview's end of the capture graph: a one-frame leaky queue, the crop to the centre
// 640 x 480, conversion to 24-bit BGR and the appsink whose callback (SampleGrabberBuffer, on the
// preview streaming thread) copies each frame into the live picture. Built on the window thread;
// the callback touches only the frame bitmap's size and the live picture, both under try-locks.
class PreviewSink {
public:
    explicit PreviewSink(LivePicture &live);

    // A new preview bin ("SampleGrabber"); null when an element is missing.
    GstElementHandle make();
    // Sets the crop and colorimetry of the preview bin `bin` for frames of `type` at `size`.
    static void fitTo(GstElement *bin, const MediaType &type, QSize size);

    // Preview streaming thread. Returns true when the frame reached the live picture.
    bool SampleGrabberBuffer(GstSample *sample);
    // Measurement seam (benchmarks): called on the streaming thread after each frame reached
    // the live picture, with the time from the frame's capture to now. Set before a start.
    void setFrameObserver(std::function<void(qint64 latencyNs)> observer) { m_frameObserver = std::move(observer); }

private:
    // The appsink's new-sample callback: SampleGrabberBuffer, then the frame observer.
    static GstFlowReturn onPreviewSample(GstAppSink *sink, gpointer owner);

    LivePicture &m_live;
    std::function<void(qint64)> m_frameObserver; // read by the streaming thread, set while stopped

    // streaming thread only (under m_frameMutex): the frame bitmap's size
    std::mutex m_frameMutex;
    QSize m_frameSize;
};

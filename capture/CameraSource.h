#pragma once

#include "capture/CaptureDevice.h"
#include "capture/GstHandles.h"
#include "capture/MediaType.h"

// The camera's part of the capture graph: the device's source element for the chosen media
// type, the caps filter that holds it to that type and, for compressed types, the decoder, up to
// the tee. Window thread only.
class CameraSource {
public:
    // Builds the part into `pipeline` and links it to `tee`; false when a step failed (what was
    // built stays in the pipeline).
    bool build(GstBin *pipeline, const CaptureDevice &device, const MediaType &type, GstElement *tee);
    void clear() { m_source = nullptr; }
    // The source element (owned by the pipeline); null before a build.
    GstElement *element() const { return m_source; }
    // Whether a bus message comes from the source or an element inside it.
    bool sent(GstMessage *message) const;
    // Whether frames of `type` have their size before the tee (decodebin's appear only later).
    static bool sizeKnownBeforeDecoding(const MediaType &type) { return type.isJpeg() || type.isFrameFormat(); }

private:
    GstElement *m_source = nullptr;
};

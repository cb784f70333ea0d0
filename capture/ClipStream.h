#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

// A recorded MP4 clip's H.264 video as one elementary stream: the access units in Annex B form
// (start codes, the parameter sets in the stream), as a DICOM MPEG-4 instance holds it. Read by
// GStreamer's own demuxer and parser. Any thread.
struct H264Clip {
    QByteArray stream;
    QSize size;
    int frames = 0;
    int fpsNumerator = 0;
    int fpsDenominator = 1;
    QString error; // why nothing was read; empty on success

    double seconds() const { return fpsNumerator > 0 ? double(frames) * fpsDenominator / fpsNumerator : 0.0; }
};

H264Clip readH264Clip(const QString &mp4File);

// The clip's duration in seconds from the MP4 header (the movie header's duration and time
// scale), without reading its frames; 0 when the file holds no such header.
double mp4Seconds(const QString &mp4File);

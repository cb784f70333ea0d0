#pragma once

#include <QSize>
#include <QString>

// What ffprobe reads from a video file's first video stream; `error` holds why nothing was
// read (no ffprobe, not a video file).
struct VideoProbe {
    QString codec;
    QString profile;
    int level = 0; // as H.264 codes it: 41 for level 4.1
    QSize size;
    double fps = 0; // the stream's average frame rate
    double seconds = 0; // the container's duration
    QString error;
};

VideoProbe ProbeVideo(const QString &file);

#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// What ffprobe reads from a video file's first video stream; `error` holds why nothing was
// read (no ffprobe, not a video file).
struct VideoProbe {
    QString codec;
    QString profile;
    int level = 0; // as H.264 codes it: 41 for level 4.1
    QSize size;
    double fps = 0; // the stream's average frame rate
    double seconds = 0; // the container's duration
    int frames = 0; // decoded, every one
    QString error;
};

VideoProbe ProbeVideo(const QString &file);

// Writes an H.264 MP4 of GStreamer's test picture (gst-launch-1.0): `frames` frames at `fps`.
bool WriteTestClip(const QString &file, int frames, int fps, QSize size);

// The lines dciodvfy reports as errors for a DICOM file ("Error - ..."); one line saying why
// when it cannot run.
QStringList DicomVerifyErrors(const QString &file);

// What a DCMTK tool (dsrdump, dsr2xml) writes for a DICOM file; empty when it fails.
QString DicomToolOutput(const QString &tool, const QString &file, const QStringList &options = {});

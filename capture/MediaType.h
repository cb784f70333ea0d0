#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <gst/gst.h>

// One format a camera offers: a single caps structure exactly as the device lists it (encoding,
// size, frame rates). Copies share the caps.
class MediaType {
public:
    MediaType() = default;
    // Takes a copy of structure `index` of `caps`.
    MediaType(const GstCaps *caps, guint index);
    explicit MediaType(const QString &capsText);
    MediaType(const MediaType &other);
    MediaType &operator=(const MediaType &other);
    ~MediaType();

    bool isValid() const { return m_caps != nullptr; }
    const GstCaps *caps() const { return m_caps; }
    const GstStructure *structure() const;

    // Uncompressed video or JPEG frames: the kinds that carry a plain frame header, as the
    // catalogue wants them. Streams such as H.264 are not frame formats.
    bool isFrameFormat() const;
    bool isJpeg() const;
    // "YUY2", "MJPG", or the media name for other kinds.
    QString encoding() const;
    QString toString() const;

private:
    GstCaps *m_caps = nullptr;
};

using MediaTypeList = QList<MediaType>;

// The frame size of a frame-format media type with a fixed width and height; 0 x 0 otherwise.
QSize MediaTypeFrameSize(const MediaType &type);

// Every structure of `caps` in order, one media type each.
MediaTypeList mediaTypesOf(const GstCaps *caps);

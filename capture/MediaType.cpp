#include "capture/MediaType.h"

#include "capture/GstHandles.h"

MediaType::MediaType(const GstCaps *caps, guint index)
{
    if (caps && index < gst_caps_get_size(caps))
        m_caps = gst_caps_copy_nth(caps, index);
}

MediaType::MediaType(const QString &capsText)
{
    m_caps = gst_caps_from_string(capsText.toUtf8().constData());
    if (m_caps && gst_caps_get_size(m_caps) != 1) {
        gst_caps_unref(m_caps);
        m_caps = nullptr;
    }
}

MediaType::MediaType(const MediaType &other)
    : m_caps(other.m_caps ? gst_caps_ref(other.m_caps) : nullptr)
{
}

MediaType &MediaType::operator=(const MediaType &other)
{
    if (this != &other) {
        GstCaps *previous = m_caps;
        m_caps = other.m_caps ? gst_caps_ref(other.m_caps) : nullptr;
        if (previous)
            gst_caps_unref(previous);
    }
    return *this;
}

MediaType::~MediaType()
{
    if (m_caps)
        gst_caps_unref(m_caps);
}

const GstStructure *MediaType::structure() const
{
    return m_caps ? gst_caps_get_structure(m_caps, 0) : nullptr;
}

bool MediaType::isFrameFormat() const
{
    const GstStructure *s = structure();
    return s && (gst_structure_has_name(s, "video/x-raw") || gst_structure_has_name(s, "image/jpeg"));
}

bool MediaType::isJpeg() const
{
    const GstStructure *s = structure();
    return s && gst_structure_has_name(s, "image/jpeg");
}

QString MediaType::encoding() const
{
    const GstStructure *s = structure();
    if (!s)
        return {};
    if (gst_structure_has_name(s, "image/jpeg"))
        return QStringLiteral("MJPG");
    if (const char *format = gst_structure_get_string(s, "format"))
        return QString::fromUtf8(format);
    return QString::fromUtf8(gst_structure_get_name(s));
}

QString MediaType::toString() const
{
    if (!m_caps)
        return {};
    GCharHandle text(gst_caps_to_string(m_caps));
    return QString::fromUtf8(text.get());
}

QSize MediaTypeFrameSize(const MediaType &type)
{
    const GstStructure *s = type.structure();
    int width = 0;
    int height = 0;
    // Sizes given as ranges (some drivers list "any size from .. to ..") have no frame size.
    if (!type.isFrameFormat() || !gst_structure_get_int(s, "width", &width)
        || !gst_structure_get_int(s, "height", &height))
        return {0, 0};
    return {width, height};
}

MediaTypeList mediaTypesOf(const GstCaps *caps)
{
    MediaTypeList types;
    if (!caps || gst_caps_is_any(caps))
        return types;
    const guint count = gst_caps_get_size(caps);
    for (guint i = 0; i < count; ++i)
        types.append(MediaType(caps, i));
    return types;
}

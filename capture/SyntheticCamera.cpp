#include "capture/SyntheticCamera.h"

#include "capture/GstHandles.h"
#include "capture/Logging.h"
#include "capture/StillButton.h"

#include <QDebug>
#include <QRegularExpression>

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>

namespace {

std::mutex &registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Camera name -> write end of the pipe its open snapshot button reads.
std::map<QString, int> &openButtons()
{
    static std::map<QString, int> buttons;
    return buttons;
}

// Whether a camera's cable is in, shared with the probe on its running sources.
struct Presence {
    std::atomic<bool> present{true};
};

// Camera name -> its presence (made on first use), and the presence watchers.
std::map<QString, std::shared_ptr<Presence>> &presences()
{
    static std::map<QString, std::shared_ptr<Presence>> map;
    return map;
}
std::map<int, std::function<void(const QString &, bool)>> &presenceWatchers()
{
    static std::map<int, std::function<void(const QString &, bool)>> map;
    return map;
}

std::shared_ptr<Presence> presenceOf(const QString &cameraName)
{
    std::lock_guard guard(registryMutex());
    auto &entry = presences()[cameraName];
    if (!entry)
        entry = std::make_shared<Presence>();
    return entry;
}

// On the source's streaming thread: a pulled camera delivers no more frames. Like v4l2src on a
// vanished device it posts a read error and ends its stream with a flow error (the base source
// then sends the end of stream downstream).
GstPadProbeReturn cutWhenPulledOut(GstPad *pad, GstPadProbeInfo *info, gpointer data)
{
    if ((*static_cast<std::shared_ptr<Presence> *>(data))->present.load())
        return GST_PAD_PROBE_OK;
    GstObjectHandle<GstElement> camera(gst_pad_get_parent_element(pad));
    if (camera) {
        GErrorHandle error(
            g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Could not read from resource."));
        gst_element_post_message(
            camera.get(),
            gst_message_new_error(GST_OBJECT(camera.get()), error.get(), "the synthetic camera was pulled out"));
    }
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
    return GST_PAD_PROBE_DROP;
}

// Keeps the press registry in step with the button's life: unregisters and closes the write
// end before the reader thread is stopped.
class SyntheticStillButton : public StillButton {
public:
    SyntheticStillButton(int readFd, int writeFd, QString cameraName, std::function<void()> onPress)
        : StillButton(readFd, std::move(onPress))
        , m_writeFd(writeFd)
        , m_cameraName(std::move(cameraName))
    {
        std::lock_guard guard(registryMutex());
        openButtons()[m_cameraName] = m_writeFd;
    }

    ~SyntheticStillButton() override
    {
        std::lock_guard guard(registryMutex());
        auto found = openButtons().find(m_cameraName);
        if (found != openButtons().end() && found->second == m_writeFd)
            openButtons().erase(found);
        ::close(m_writeFd);
    }

private:
    int m_writeFd;
    QString m_cameraName;
};

QList<MediaType> defaultTypes()
{
    QList<MediaType> types;
    for (const char *text :
         {"YUY2 640x480", "MJPG 640x480", "YUY2 1280x720", "MJPG 1280x720", "YUY2 320x240", "YUY2 1600x1200"}) {
        const QStringList parts = QString::fromLatin1(text).split(u' ');
        const QStringList size = parts[1].split(u'x');
        types.append(MediaType(
            QStringLiteral(
                "%1, width=(int)%2, height=(int)%3, framerate=(fraction)30/1, pixel-aspect-ratio=(fraction)1/1")
                .arg(parts[0] == QLatin1String("MJPG") ? QStringLiteral("image/jpeg")
                                                       : QStringLiteral("video/x-raw, format=(string)") + parts[0])
                .arg(size[0], size[1])));
    }
    return types;
}

MediaType typeFrom(const QString &text, int fps)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(?:([A-Za-z0-9]+)\\s+)?(\\d{1,5})x(\\d{1,5})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return {};
    const QString encoding = match.captured(1).isEmpty() ? QStringLiteral("YUY2") : match.captured(1).toUpper();
    static const QStringList rawFormats = {QStringLiteral("YUY2"), QStringLiteral("BGR"),  QStringLiteral("RGB"),
                                           QStringLiteral("I420"), QStringLiteral("NV12"), QStringLiteral("GRAY8")};
    QString media;
    if (encoding == QLatin1String("MJPG"))
        media = QStringLiteral("image/jpeg");
    else if (rawFormats.contains(encoding))
        media = QStringLiteral("video/x-raw, format=(string)") + encoding;
    else
        return {};
    const int width = match.captured(2).toInt();
    const int height = match.captured(3).toInt();
    if (width < 16 || height < 16)
        return {};
    return MediaType(
        QStringLiteral("%1, width=(int)%2, height=(int)%3, framerate=(fraction)%4/1, pixel-aspect-ratio=(fraction)1/1")
            .arg(media)
            .arg(width)
            .arg(height)
            .arg(fps));
}

} // namespace

SyntheticCamera::SyntheticCamera(Declaration declaration)
    : m_declaration(std::move(declaration))
{
}

std::optional<QList<SyntheticCamera::Declaration>> SyntheticCamera::declared()
{
    if (!qEnvironmentVariableIsSet(kVariable))
        return std::nullopt;
    return parse(qEnvironmentVariable(kVariable));
}

QList<SyntheticCamera::Declaration> SyntheticCamera::parse(const QString &value)
{
    QList<Declaration> cameras;
    const QString trimmed = value.trimmed();
    bool isCount = false;
    const int count = trimmed.toInt(&isCount);
    if (isCount) {
        for (int i = 0; i < qBound(0, count, 16); ++i) {
            Declaration camera;
            camera.name = QStringLiteral("Synthetic Camera %1").arg(i + 1);
            camera.types = defaultTypes();
            camera.stillButton = true;
            cameras.append(camera);
        }
        return cameras;
    }

    for (const QString &cameraText : trimmed.split(u';', Qt::SkipEmptyParts)) {
        Declaration camera;
        QString body = cameraText;
        const qsizetype colon = body.indexOf(u':');
        if (colon >= 0) {
            camera.name = body.left(colon).trimmed();
            body = body.mid(colon + 1);
        }
        if (camera.name.isEmpty())
            camera.name = QStringLiteral("Synthetic Camera %1").arg(cameras.size() + 1);

        QStringList parts = body.split(u'/');
        const QString typeList = parts.takeFirst();
        for (const QString &option : parts) {
            const QString key = option.section(u'=', 0, 0).trimmed().toLower();
            const QString argument = option.section(u'=', 1).trimmed();
            if (key == QLatin1String("still"))
                camera.stillButton = true;
            else if (key == QLatin1String("pattern") && !argument.isEmpty())
                camera.pattern = argument;
            else if (key == QLatin1String("speed"))
                camera.speed = qBound(-100, argument.toInt(), 100);
            else if (key == QLatin1String("fps") && argument.toInt() > 0)
                camera.fps = qMin(argument.toInt(), 240);
            else
                qCWarning(lcCapture).nospace() << kVariable << ": unknown option " << option;
        }
        for (const QString &typeText : typeList.split(u',', Qt::SkipEmptyParts)) {
            const MediaType type = typeFrom(typeText, camera.fps);
            if (type.isValid())
                camera.types.append(type);
            else
                qCWarning(lcCapture).nospace()
                    << kVariable << ": " << typeText << " is not a media type (e.g. \"MJPG 1280x720\")";
        }
        cameras.append(camera);
    }
    return cameras;
}

void SyntheticCamera::setPresent(const QString &cameraName, bool present)
{
    const std::shared_ptr<Presence> presence = presenceOf(cameraName);
    if (presence->present.exchange(present) == present)
        return;
    std::map<int, std::function<void(const QString &, bool)>> watchers;
    {
        std::lock_guard guard(registryMutex());
        watchers = presenceWatchers();
    }
    for (const auto &[id, watcher] : watchers)
        watcher(QStringLiteral("synthetic:") + cameraName, present);
}

bool SyntheticCamera::isPresent(const QString &cameraName)
{
    return presenceOf(cameraName)->present.load();
}

void SyntheticCamera::resetPresence()
{
    QStringList pulled;
    {
        std::lock_guard guard(registryMutex());
        for (const auto &[name, presence] : presences())
            if (!presence->present.load())
                pulled.append(name);
    }
    for (const QString &name : pulled)
        setPresent(name, true);
}

int SyntheticCamera::watchPresence(std::function<void(const QString &, bool)> watcher)
{
    static int lastId = 0;
    std::lock_guard guard(registryMutex());
    presenceWatchers()[++lastId] = std::move(watcher);
    return lastId;
}

void SyntheticCamera::unwatchPresence(int id)
{
    std::lock_guard guard(registryMutex());
    presenceWatchers().erase(id);
}

bool SyntheticCamera::pressStillButton(const QString &cameraName)
{
    std::lock_guard guard(registryMutex());
    const auto found = openButtons().find(cameraName);
    if (found == openButtons().end())
        return false;
    // The same record a UVC camera's input device sends for a press and a release.
    input_event events[2] = {};
    events[0].type = EV_KEY;
    events[0].code = KEY_CAMERA;
    events[0].value = 1;
    events[1] = events[0];
    events[1].value = 0;
    return ::write(found->second, events, sizeof events) == ssize_t(sizeof events);
}

GstElementHandle SyntheticCamera::createSource(const MediaType &type) const
{
    const GstStructure *wanted = type.structure();
    if (!wanted)
        return {};
    GstElementHandle bin = gstSink(gst_bin_new(nullptr));
    GstElementHandle sourceHandle = gstMake("videotestsrc", "camera");
    GstElementHandle rawCapsHandle = gstMake("capsfilter");
    GstElementHandle encoderHandle = type.isJpeg() ? gstMake("jpegenc") : nullptr;
    if (!bin || !sourceHandle || !rawCapsHandle || (type.isJpeg() && !encoderHandle))
        return {};
    GstElement *source = gstAdd(GST_BIN(bin.get()), std::move(sourceHandle));
    GstElement *rawCaps = gstAdd(GST_BIN(bin.get()), std::move(rawCapsHandle));
    GstElement *encoder = encoderHandle ? gstAdd(GST_BIN(bin.get()), std::move(encoderHandle)) : nullptr;
    if (!source || !rawCaps || (type.isJpeg() && !encoder))
        return {};
    GstPadHandle output(gst_element_get_static_pad(source, "src"));
    gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, cutWhenPulledOut,
                      new std::shared_ptr<Presence>(presenceOf(m_declaration.name)),
                      [](gpointer data) { delete static_cast<std::shared_ptr<Presence> *>(data); });
    g_object_set(source, "is-live", TRUE, "horizontal-speed", m_declaration.speed, nullptr);
    gst_util_set_object_arg(G_OBJECT(source), "pattern", m_declaration.pattern.toUtf8().constData());

    GstCapsHandle caps(gst_caps_copy(type.caps()));
    if (type.isJpeg()) {
        GstStructure *s = gst_caps_get_structure(caps.get(), 0);
        gst_structure_set_name(s, "video/x-raw");
        gst_structure_set(s, "format", G_TYPE_STRING, "I420", nullptr);
    }
    g_object_set(rawCaps, "caps", caps.get(), nullptr);

    GstElement *last = rawCaps;
    gst_element_link(source, rawCaps);
    if (encoder) {
        gst_element_link(rawCaps, encoder);
        last = encoder;
    }
    GstPadHandle pad(gst_element_get_static_pad(last, "src"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("src", pad.get()));
    return bin;
}

std::unique_ptr<StillButton> SyntheticCamera::openStillButton(std::function<void()> onPress) const
{
    if (!m_declaration.stillButton)
        return nullptr;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    return std::make_unique<SyntheticStillButton>(fds[0], fds[1], m_declaration.name, std::move(onPress));
}

CameraControlList SyntheticCamera::controls(GstElement *source) const
{
    CameraControlList controls;
    if (!source)
        return controls;
    GstElementHandle camera(GST_IS_BIN(source) ? gst_bin_get_by_name(GST_BIN(source), "camera")
                                               : static_cast<GstElement *>(gst_object_ref(source)));
    if (!camera)
        return controls;
    std::shared_ptr<GstElement> element(static_cast<GstElement *>(gst_object_ref(camera.get())),
                                        [](GstElement *e) { gst_object_unref(e); });

    CameraControl pattern;
    pattern.name = QStringLiteral("Pattern");
    pattern.kind = CameraControl::Kind::Menu;
    GParamSpec *spec = g_object_class_find_property(G_OBJECT_GET_CLASS(element.get()), "pattern");
    if (spec && G_IS_PARAM_SPEC_ENUM(spec)) {
        GEnumClass *enumClass = G_PARAM_SPEC_ENUM(spec)->enum_class;
        for (guint i = 0; i < enumClass->n_values; ++i) {
            pattern.menuItems.append(QString::fromUtf8(enumClass->values[i].value_nick));
            pattern.menuValues.append(enumClass->values[i].value);
        }
        gint current = 0;
        g_object_get(element.get(), "pattern", &current, nullptr);
        pattern.value = current;
        pattern.defaultValue = G_PARAM_SPEC_ENUM(spec)->default_value;
        pattern.apply = [element](int value) {
            g_object_set(element.get(), "pattern", value, nullptr);
            return true;
        };
        controls.append(pattern);
    }

    CameraControl speed;
    speed.name = QStringLiteral("Horizontal speed");
    speed.kind = CameraControl::Kind::Integer;
    speed.minimum = -20;
    speed.maximum = 20;
    g_object_get(element.get(), "horizontal-speed", &speed.value, nullptr);
    speed.apply = [element, minimum = speed.minimum, maximum = speed.maximum](int value) {
        if (value < minimum || value > maximum)
            return false;
        g_object_set(element.get(), "horizontal-speed", value, nullptr);
        return true;
    };
    controls.append(speed);

    CameraControl flip;
    flip.name = QStringLiteral("Flip colours");
    flip.kind = CameraControl::Kind::Boolean;
    flip.maximum = 1;
    gboolean flipped = FALSE;
    g_object_get(element.get(), "flip", &flipped, nullptr);
    flip.value = flipped ? 1 : 0;
    flip.apply = [element](int value) {
        g_object_set(element.get(), "flip", value ? TRUE : FALSE, nullptr);
        return true;
    };
    controls.append(flip);

    // A driver's automatic switch and the manual control it governs, as UVC cameras name them:
    // the temperature is refused while the switch is on. Kept with the source, so a new build
    // starts from the camera's defaults as a camera plugged in again does.
    struct WhiteBalance {
        bool automatic = true;
        int temperature = 4600;
    };
    auto *state = static_cast<WhiteBalance *>(g_object_get_data(G_OBJECT(element.get()), "white-balance"));
    if (!state) {
        state = new WhiteBalance;
        g_object_set_data_full(G_OBJECT(element.get()), "white-balance", state,
                               [](gpointer data) { delete static_cast<WhiteBalance *>(data); });
    }
    CameraControl automatic;
    automatic.name = QStringLiteral("White Balance Temperature, Auto");
    automatic.kind = CameraControl::Kind::Boolean;
    automatic.maximum = automatic.defaultValue = 1;
    automatic.value = state->automatic ? 1 : 0;
    automatic.automatic = true;
    automatic.apply = [element, state](int value) { // element: keeps the state alive
        state->automatic = value != 0;
        return true;
    };
    controls.append(automatic);
    CameraControl temperature;
    temperature.name = QStringLiteral("White Balance Temperature");
    temperature.minimum = 2800;
    temperature.maximum = 6500;
    temperature.step = 10;
    temperature.defaultValue = 4600;
    temperature.value = state->temperature;
    temperature.apply = [element, state](int value) {
        if (state->automatic || value < 2800 || value > 6500)
            return false;
        state->temperature = value;
        return true;
    };
    controls.append(temperature);
    return controls;
}

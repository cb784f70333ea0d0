#include "MediaProbe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

VideoProbe ProbeVideo(const QString &file)
{
    VideoProbe result;
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                   QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                   QStringLiteral("stream=codec_name,profile,level,width,height,avg_frame_rate:format=duration"),
                   QStringLiteral("-of"), QStringLiteral("json"), file});
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0) {
        result.error = QStringLiteral("ffprobe: ") + ffprobe.errorString() + u' '
            + QString::fromLocal8Bit(ffprobe.readAllStandardError());
        return result;
    }
    const QJsonObject root = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    const QJsonObject stream = root.value(QLatin1String("streams")).toArray().first().toObject();
    if (stream.isEmpty()) {
        result.error = QStringLiteral("no video stream in ") + file;
        return result;
    }
    result.codec = stream.value(QLatin1String("codec_name")).toString();
    result.profile = stream.value(QLatin1String("profile")).toString();
    result.level = stream.value(QLatin1String("level")).toInt();
    result.size = QSize(stream.value(QLatin1String("width")).toInt(), stream.value(QLatin1String("height")).toInt());
    const QStringList rate = stream.value(QLatin1String("avg_frame_rate")).toString().split(u'/');
    if (rate.size() == 2 && rate[1].toDouble() > 0)
        result.fps = rate[0].toDouble() / rate[1].toDouble();
    result.seconds =
        root.value(QLatin1String("format")).toObject().value(QLatin1String("duration")).toString().toDouble();
    return result;
}

#include "MediaProbe.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

VideoProbe ProbeVideo(const QString &file)
{
    VideoProbe result;
    QProcess ffprobe;
    ffprobe.start(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
         QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,profile,level,width,height,avg_frame_rate,nb_read_frames:format=duration"),
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
    result.frames = stream.value(QLatin1String("nb_read_frames")).toString().toInt();
    result.seconds =
        root.value(QLatin1String("format")).toObject().value(QLatin1String("duration")).toString().toDouble();
    return result;
}

bool WriteTestClip(const QString &file, int frames, int fps, QSize size)
{
    QDir().mkpath(QFileInfo(file).path());
    QProcess launch;
    launch.start(QStringLiteral("gst-launch-1.0"),
                 {QStringLiteral("-q"), QStringLiteral("videotestsrc"), QStringLiteral("num-buffers=%1").arg(frames),
                  QStringLiteral("!"),
                  QStringLiteral("video/x-raw,format=I420,width=%1,height=%2,framerate=%3/1")
                      .arg(size.width())
                      .arg(size.height())
                      .arg(fps),
                  QStringLiteral("!"), QStringLiteral("x264enc"), QStringLiteral("speed-preset=superfast"),
                  QStringLiteral("!"), QStringLiteral("video/x-h264,profile=high"), QStringLiteral("!"),
                  QStringLiteral("mp4mux"), QStringLiteral("!"), QStringLiteral("filesink"),
                  QStringLiteral("location=") + file});
    return launch.waitForFinished(120000) && launch.exitCode() == 0;
}

QStringList DicomVerifyErrors(const QString &file)
{
    QProcess dciodvfy;
    dciodvfy.setProcessChannelMode(QProcess::MergedChannels);
    dciodvfy.start(QStringLiteral("dciodvfy"), {file});
    if (!dciodvfy.waitForFinished(60000))
        return {QStringLiteral("dciodvfy did not run: ") + dciodvfy.errorString()};
    QStringList errors;
    for (const QString &line : QString::fromLocal8Bit(dciodvfy.readAll()).split(u'\n'))
        if (line.startsWith(QLatin1String("Error")))
            errors << line;
    return errors;
}

QString DicomToolOutput(const QString &tool, const QString &file, const QStringList &options)
{
    QProcess run;
    run.start(tool, options + QStringList{file});
    if (!run.waitForFinished(60000) || run.exitCode() != 0)
        return {};
    return QString::fromUtf8(run.readAllStandardOutput());
}

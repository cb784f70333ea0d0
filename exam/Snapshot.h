#pragma once

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class QObject;

class PictureSlots;

// What a snapshot needs of the capture side. Every hook is called on the window's thread.
struct LiveSource {
    // A copy of the live picture taken while holding the live picture's lock.
    std::function<QImage()> copyLivePicture;
    // The capture size of the camera format in force (0 x 0 before the first camera start).
    std::function<QSize()> captureSize;
    // True when the graph state remembered by the last single click on the live picture
    // was running.
    std::function<bool()> rememberedRunning;
    // Sets the (paused) capture graph running again.
    std::function<void()> runGraph;
    // True while the camera is away (unplugged): snapshots are then refused without a word.
    std::function<bool()> cameraLost;
};

// Freezes the live picture into the next picture slot with a file name made from the time.
// Window thread only; the camera's still button reaches it through a queued call.
class Snapshot {
public:
    using Clock = std::function<QDateTime()>;

    Snapshot(PictureSlots &pictureSlots, LiveSource source, Clock clock = &QDateTime::currentDateTime);
    ~Snapshot();

    // Takes one snapshot: double-click on Imagemovie, or a still image from the camera.
    void ImagemovieDblClick();
    // Any thread (the camera's still-image callback): queues one ImagemovieDblClick on the
    // thread that created this object. Every request gives one snapshot; requests still
    // queued when this object is destroyed are dropped.
    void requestSnapshot();

    // "yyyyMMddHHmmsszzz" + ".jpg".
    static QString fileNameFor(const QDateTime &time);

private:
    QString nextFileName();

    PictureSlots &m_slots;
    LiveSource m_source;
    Clock m_clock;
    QDateTime m_lastTime;
    // Receiver of the queued requests, living on the window's thread.
    std::unique_ptr<QObject> m_requests;
};

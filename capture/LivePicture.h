#pragma once

#include <QImage>

#include <atomic>
#include <functional>
#include <mutex>

// The live picture: the 640 x 480 24-bit bitmap the window shows under the camera. Written by
// the capture streaming thread under try-locks, read by the window thread under lock().
class LivePicture {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr uchar kStartGrey = 128;
    // Background of the "no camera" picture shown while the camera is away.
    static constexpr uchar kNoCameraGrey = 40;

    LivePicture();
    LivePicture(const LivePicture &) = delete;
    LivePicture &operator=(const LivePicture &) = delete;

    // The picture's own lock. The window thread takes it with lock() while it paints or copies;
    // the streaming thread only ever tries it, so a busy picture costs a dropped frame, never a
    // stalled stream.
    std::mutex &mutex() { return m_mutex; }

    // The bitmap itself: Format_BGR888 (blue, green, red bytes), rows top first. Touch it only
    // while holding mutex().
    QImage &bitsLocked() { return m_image; }

    // A deep copy taken under the lock (snapshot, measurement). Window thread.
    QImage copy();

    // Back to the built-in start picture, uniform mid-grey.
    void resetToStartPicture();
    // The "no camera" picture: `text` centred on dark grey. Window thread.
    void showNoCamera(const QString &text);

    // Called by the streaming thread after a frame went in. Posts one repaint request to the
    // window thread only when none is pending, so a slow window sees the newest picture once
    // instead of a backlog of paints.
    void requestRepaint();
    // The window thread clears the flag before it repaints, so a frame that arrives during the
    // paint asks for another one.
    void repaintTaken() { m_repaintPending.store(false, std::memory_order_release); }
    void setRepaintPoster(std::function<void()> poster) { m_poster = std::move(poster); }

    // How many frames reached the picture since start (streaming thread writes, anyone reads).
    quint64 framesShown() const { return m_framesShown.load(std::memory_order_relaxed); }
    void countFrame() { m_framesShown.fetch_add(1, std::memory_order_relaxed); }

private:
    std::mutex m_mutex;
    QImage m_image;
    std::atomic<bool> m_repaintPending{false};
    std::atomic<quint64> m_framesShown{0};
    std::function<void()> m_poster; // set once by the window thread before any frame
};

#pragma once

#include "capture/GstHandles.h"

#include <QDateTime>
#include <QSize>
#include <QString>

#include <functional>

class BusWatch;
class QLineEdit;
class QPushButton;
class QWidget;

// The recorder: the record button's flag and caption, the file name, and the branch behind the
// capture graph's tee that encodes the capture stream into a WMV file, or with config.ini's
// [video] format=mp4 into an H.264 (High profile, level 4.1) MP4 file. The branch is finished
// when its end-of-stream message comes back on the pipeline's bus (handleMessage): then the
// muxer has written the file's index and final header. Window thread only.
class Recording {
public:
    Recording(QPushButton *btnRecord, QLineEdit *edtNumber, QWidget *owner);

    // The operator's choice: every preview start while it is on records into a new file.
    bool on() const { return m_on; }
    void toggle() { m_on = !m_on; }
    // Sets the record button's caption by the flag (also after a language change).
    void updateRecordCaption();
    void setCaptionLookup(std::function<QString(const QString &key, const QString &builtIn)> lookup)
    {
        m_captionLookup = std::move(lookup);
    }

    // The video folder (ends in "/"); the program's video/ folder unless set.
    void setVideoFolder(const QString &folder) { m_videoFolder = folder; }
    QString videoFolder() const;

    enum class Format { Wmv, Mp4 };
    // config.ini's [video] format: "mp4" records H.264 MP4, anything else (the default) WMV.
    static Format configuredFormat();
    // The MP4's frame size for a capture size: the capture size, brought within 1920 x 1080
    // (aspect kept, even sides).
    static QSize mp4FrameSize(QSize capture);

    // "<number>_yyyyMMdd_HHmmss.wmv" in `folder` ("yyyyMMdd_HHmmss.wmv" without a number; ".mp4"
    // for MP4); a name already taken gets "_2", "_3", ... so no recording overwrites an earlier one.
    static QString RecordingFileName(const QString &folder, const QString &patientNumber, const QDateTime &when,
                                     Format format = Format::Wmv);

    // Builds the encoding part of the recording branch into `writer` (a bin), its muxer named
    // "RecordMuxer". WMV: `width` x `height` at `fps`, WMV1 at 1,000,000 bit/s, a key frame at
    // least every 5 s, ASF container. MP4: `width` x `height` at the camera's rate up to `fps`,
    // H.264 High profile level 4.1 (x264, superfast), a key frame every 2 s, MP4 container. A
    // step that fails shows its message and gives back its code; 0 on success. The one place
    // the encoder is chosen.
    int ConfigureRecordingProfile(GstElement *writer, int width, int height, int fps);

    // Builds the branch into `pipeline` behind `tee` in the format config.ini names, writing a
    // new file named after the patient number; false when it cannot (an encoder step that fails
    // has shown its box), and the preview then goes on without it. `captureSize` sizes an MP4.
    bool attach(GstBin *pipeline, GstElement *tee, QSize captureSize);
    Format format() const { return m_format; }
    // Forgets the branch; its pipeline is being torn down.
    void detach();
    // The file the branch records into; empty without a branch.
    QString file() const { return m_file; }
    // The patient number the file was named after.
    QString patientNumber() const { return m_patientNumber; }
    bool attached() const { return m_writer != nullptr; }

    // Sends the end of stream into the branch of `pipeline`, behind the frames it still holds
    // (the camera sends nothing more, or the recording stops), letting a paused pipeline run
    // for it; once per branch. True while its message is awaited; false when none can come
    // (no branch, already finished, or a pipeline that never ran).
    bool end(GstElement *pipeline);
    // Ends the branch (after a start under way has finished) and waits on the pipeline's bus,
    // at most `timeout`, for the end's message: a stop returns with the file complete.
    void finish(GstElement *pipeline, BusWatch &bus, GstClockTime timeout);
    // Whether the branch's end of stream came back: the file is complete.
    bool finished() const { return m_finished; }
    // Takes the branch's end-of-stream message (forwarded by its bin); true for that message.
    bool handleMessage(GstMessage *message);

private:
    QPushButton *m_btnRecord;
    QLineEdit *m_edtNumber;
    QWidget *m_owner;
    std::function<QString(const QString &, const QString &)> m_captionLookup;
    QString m_videoFolder;
    bool m_on = false;

    Format m_format = Format::Wmv; // of the branch attached last
    GstElement *m_writer = nullptr; // owned by the pipeline
    QString m_file;
    QString m_patientNumber;
    bool m_endSent = false;
    bool m_finished = false;
};

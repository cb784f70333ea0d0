#pragma once

#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "capture/CaptureGraph.h"
#include "capture/LivePictureView.h"
#include "core/IniFile.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// A program folder, the live picture area's controls wired as the main window wires them, and
// a capture graph on the synthetic cameras declared by each test.
class CaptureFixture : public ::testing::Test {
protected:
    CaptureFixture();
    ~CaptureFixture() override;

    // Declares the synthetic cameras (EXAMSTATION_SYNTHETIC_CAMERA) for the next preview start.
    static void declareCameras(const char *value);
    void writeConfig(const QString &key, const QString &value);

    // Runs the window thread's event loop until `done` holds or `timeoutMs` passed.
    static bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000);
    // Waits until `count` more frames reached the live picture.
    bool waitForFrames(quint64 count, int timeoutMs = 10000);

    QImage livePicture() { return graph->livePicture().copy(); }

    TestHome home;
    ScriptedDialogs dialogs;
    IniFile settings;
    QWidget window;
    LivePictureView *Imagemovie = nullptr;
    QSlider *TrackBar1 = nullptr;
    QLabel *lbResolution = nullptr;
    QPushButton *btnRecord = nullptr;
    QLineEdit *edtNumber = nullptr;
    std::unique_ptr<CaptureGraph> graph;
};

// A 24-bit BGR frame made by GStreamer itself from a videotestsrc pattern, through `format`
// (e.g. "BGR", "YUY2") and back to BGR, exactly as the synthetic camera produces it.
QImage ReferenceFrame(const char *pattern, const char *format, int width, int height);

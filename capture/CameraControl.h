#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// One setting a camera offers (brightness, exposure, test pattern, ...), as the camera settings
// dialog shows it. `apply` changes the camera at once and tells whether the camera took the
// value; it runs on the window thread.
struct CameraControl {
    enum class Kind { Integer, Boolean, Menu };

    QString name;
    Kind kind = Kind::Integer;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int value = 0;
    int defaultValue = 0; // the camera's own default
    QStringList menuItems; // Menu: the texts shown
    QList<int> menuValues; // Menu: the value of each text
    // An automatic switch (white balance, exposure, focus, gain): while on, the driver refuses
    // the manual values it governs, so stored values set it first.
    bool automatic = false;
    std::function<bool(int value)> apply;
};

using CameraControlList = QList<CameraControl>;

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// One setting a camera offers (brightness, exposure, test pattern, ...), as the camera settings
// dialog shows it. `apply` changes the camera at once; it runs on the window thread.
struct CameraControl {
    enum class Kind { Integer, Boolean, Menu };

    QString name;
    Kind kind = Kind::Integer;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int value = 0;
    QStringList menuItems; // Menu: the texts shown
    QList<int> menuValues; // Menu: the value of each text
    std::function<void(int value)> apply;
};

using CameraControlList = QList<CameraControl>;

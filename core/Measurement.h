#pragma once

#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cmath>

// One length measured on a slot picture in the processing panel, with the calibration it used.
// Plain value shared by the panel (imaging), the slots and the save (exam), the records and the
// DICOM instances: any thread.
struct Measurement {
    int slot = 0; // 1..4
    QPoint start; // end points in the picture's own pixels, as kept in the slot
    QPoint end;
    double lengthMm = 0;
    double mmPerPixel = 0; // of the picture
    double calibrationRatio = 0; // [measure] ratio: millimetres per pixel of the live picture
    int calibrationHeight = 0; // [measure] height: the capture height the calibration was made at
    QString method; // how the calibration was made, see kKnownLength
    QString observer; // the operator logged in when it was saved; empty without accounts

    // Calibrated on the live picture against an object of known length (Calibration).
    static inline const QString kKnownLength = QStringLiteral("known length");
    // A reloaded record's real height of the full picture (rh), without a capture size.
    static inline const QString kRecordHeight = QStringLiteral("record height");

    bool operator==(const Measurement &) const = default;

    double pixels() const
    {
        const double dx = end.x() - start.x();
        const double dy = end.y() - start.y();
        return std::sqrt(dx * dx + dy * dy);
    }

    // The same line on the picture turned a quarter to the right (or left) from `size`, as
    // TurnBitmapRight and TurnBitmapLeft move its pixels.
    Measurement turned(bool right, QSize size) const
    {
        Measurement result = *this;
        auto move = [&](QPoint p) {
            return right ? QPoint(size.height() - 1 - p.y(), p.x()) : QPoint(p.y(), size.width() - 1 - p.x());
        };
        result.start = move(start);
        result.end = move(end);
        return result;
    }
};

using Measurements = QList<Measurement>;

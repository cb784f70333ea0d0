#pragma once

#include <QCursor>

// The program's table of pointer shapes: the four crosshair pointers, registered under the
// numbers 1 (black), 2 (green), 3 (red) and 4 (white) from the program's resources. The
// measuring overlays use number 4. Window thread only.
namespace CrossCursors {

// Registers the four crosshairs; a second call registers them again.
void LoadCrossCursors();

// The pointer registered under number; the arrow for a number with none.
QCursor cursor(int number);

// Whether a pointer is registered under number.
bool isRegistered(int number);

} // namespace CrossCursors

#pragma once

#include <QImage>

// Bitmap operations of the image tools on 24-bit bitmaps (QImage::Format_BGR888, or
// Format_RGB888 whose byte order greying takes into account). A picture of any other format
// is converted to Format_BGR888 first. They report no errors. Any thread.

// Replaces the picture by itself turned a quarter turn clockwise; width and height swap.
void TurnBitmapRight(QImage &picture);
// Replaces the picture by itself turned a quarter turn counter-clockwise.
void TurnBitmapLeft(QImage &picture);
// Replaces every pixel by its grey value (77 R + 151 G + 28 B) >> 8, in place.
void GrayBitmap(QImage &bitmap);

// Build tool: draws the program's icon (the same shapes as org.examstation.ExamStation.svg) as
// PNG files of the usual sizes, <folder>/<N>x<N>/apps/org.examstation.ExamStation.png.
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon_render FOLDER\n");
        return 2;
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 256.0, size / 256.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x1f, 0x6f, 0x8b));
        painter.drawRoundedRect(QRectF(16, 16, 224, 224), 40, 40);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(120, 136), 72, 72);
        painter.setBrush(QColor(0x16, 0x32, 0x4f));
        painter.drawEllipse(QPointF(120, 136), 48, 48);
        painter.setBrush(QColor(0x9f, 0xd3, 0xe6));
        painter.drawEllipse(QPointF(104, 120), 14, 14);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(184, 36, 16, 48));
        painter.drawRect(QRectF(168, 52, 48, 16));
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) || !image.save(folder + QStringLiteral("/org.examstation.ExamStation.png"))) {
            std::fprintf(stderr, "icon_render: cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

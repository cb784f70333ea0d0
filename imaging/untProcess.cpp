#include "imaging/untProcess.h"

#include "imaging/ImageControl.h"

#include <QFrame>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace {

const QColor kCream(255, 251, 240);

// The 16 x 16 curved arrow of the turn buttons; mirrored for the right turn.
QIcon turnArrow(bool mirrored)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    if (mirrored)
        painter.setTransform(QTransform(-1, 0, 0, 1, 16, 0));
    QPen pen(QColor(0, 0, 128), 2);
    painter.setPen(pen);
    painter.drawArc(QRectF(3, 4, 10, 10), 0, 200 * 16);
    QPainterPath head;
    head.moveTo(1, 8);
    head.lineTo(6, 8);
    head.lineTo(3.5, 12);
    head.closeSubpath();
    painter.fillPath(head, pen.color());
    return QIcon(pixmap);
}

QPushButton *toolButton(QWidget *parent, const char *name, const QString &caption, int left, int width)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 544, width, 25);
    return button;
}

} // namespace

TfrmProcess::TfrmProcess(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmProcess"));
    resize(707, 596);

    plProcess = new QFrame(this);
    plProcess->setObjectName(QStringLiteral("plProcess"));
    plProcess->setGeometry(24, 32, 642, 482);
    plProcess->setAutoFillBackground(true);
    QPalette cream = plProcess->palette();
    cream.setColor(QPalette::Window, kCream);
    plProcess->setPalette(cream);

    imgBack = new ImageControl(plProcess);
    imgBack->setObjectName(QStringLiteral("imgBack"));
    imgBack->setStretch(false);
    imageFront = new ImageControl(plProcess);
    imageFront->setObjectName(QStringLiteral("imageFront"));
    imageFront->setStretch(false);

    btnGray = toolButton(this, "btnGray", QStringLiteral("灰色"), 40, 75);
    // The turn buttons carry an arrow beside their word: room for both in every language.
    btnTurnLeft = toolButton(this, "btnTurnLeft", QString(), 140, 95);
    btnTurnLeft->setIcon(turnArrow(false));
    btnTurnRight = toolButton(this, "btnTurnRight", QString(), 245, 100);
    btnTurnRight->setIcon(turnArrow(true));
    btnMline = toolButton(this, "btnMline", QStringLiteral("测量"), 376, 73);
    btnMline->setCheckable(true);
    btnSave = toolButton(this, "btnSave", QStringLiteral("保存"), 504, 75);
    btnSave->hide();
    btnBack = toolButton(this, "btnBack", QStringLiteral("返回"), 592, 75);
}

void TfrmProcess::resetLayers()
{
    imgBack->setGeometry(1, 1, 640, 480);
    imageFront->setGeometry(1, 1, 640, 480);
    QImage blank(640, 480, QImage::Format_RGB888);
    blank.fill(Qt::white);
    imageFront->setPicture(blank);
    imageFront->setTransparent(true);
}

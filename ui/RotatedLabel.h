#pragma once

#include <QString>
#include <QWidget>

// A side label whose text runs from top to bottom (turned by 270 degrees counter-clockwise),
// centred in the label. Used for the findings, diagnosis and treatment side labels when the
// language's words do not stack one character per line. Window thread only.
class RotatedLabel : public QWidget {
    Q_OBJECT

public:
    explicit RotatedLabel(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text = QStringLiteral("Image Shown");
};

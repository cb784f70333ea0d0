#pragma once

#include <QFont>
#include <QLabel>

// A one-line caption in a place of fixed size: a text (of a longer language) that is wider
// than the label is drawn in a font just small enough to show it whole, instead of being cut
// or running into the field beside it. Window thread only.
class FittingLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

    // The font the text is drawn in: the label's own, or a smaller one that fits its width.
    QFont shownFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

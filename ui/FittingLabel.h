#pragma once

#include <QFont>
#include <QLabel>

// A one-line caption in a place of fixed size: a text (of a longer language) that is wider
// than the label is drawn in a font just small enough to show it whole, instead of being cut
// or running into the field beside it, but never smaller than kSmallestShare of its size (a
// language whose word needs more takes a shorter word). Window thread only.
class FittingLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

    static constexpr double kSmallestShare = 0.75;

    // The font the text is drawn in: the label's own, or a smaller one that fits its width,
    // down to kSmallestShare of the label's own size.
    QFont shownFont() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

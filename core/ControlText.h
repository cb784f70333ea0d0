#pragma once

#include <QComboBox>
#include <QString>

// The text a drop-down shows, read and written the same way by every subsystem: an editable
// drop-down shows any text, a fixed one selects the entry of that text. Window thread only.
namespace ControlText {

inline QString comboText(const QComboBox *combo)
{
    return combo ? combo->currentText() : QString();
}

inline void setComboText(QComboBox *combo, const QString &text)
{
    if (!combo)
        return;
    if (combo->isEditable()) {
        // A write of the text shown repaints the box for nothing (each keystroke's look-up
        // clears every line of the sheet).
        if (combo->currentText() != text)
            combo->setEditText(text);
    } else
        combo->setCurrentIndex(combo->findText(text));
}

} // namespace ControlText

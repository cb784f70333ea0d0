#pragma once

#include <QString>

#include <optional>

// Text rules shared by every patient statement: trimming, the case-folded keys the look-ups
// compare on, and the numeric value of all-digit patient numbers. Pure functions.
namespace PatientText {

// The comparison key of a text: every letter case-folded (Ä and ä, Д and д give the same key).
// Stored beside each searchable column so equality and prefix look-ups use a plain index.
QString key(const QString &text);

// The value of a number made of ASCII digits only (at most 18 of them, so value + 1 always
// fits); nothing for any other text ("A12", "", "１２", "-5").
std::optional<qint64> numericValue(const QString &number);

// A LIKE pattern split for an index: the literal front before the first "%" or "_", and the
// first key that no text starting with that front reaches (empty when there is no such bound).
struct PrefixRange {
    QString low;
    QString high;
    bool bounded() const { return !low.isEmpty() && !high.isEmpty(); }
};
PrefixRange prefixRange(const QString &patternKey);

} // namespace PatientText

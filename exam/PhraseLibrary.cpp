#include "exam/PhraseLibrary.h"

#include "core/ErrorDisplay.h"
#include "core/IniFile.h"
#include "core/TrimmedText.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QLocale>
#include <QSet>

#include <algorithm>

namespace {

QCollator phraseCollator()
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

qsizetype indexIn(const QCollator &collator, const QStringList &list, const QString &phrase)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (collator.compare(list.at(i), phrase) == 0)
            return i;
    }
    return -1;
}

} // namespace

PhraseLibrary::PhraseLibrary(IniFile &settings, const PhraseControls &controls, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_controls(controls)
{
    for (int index = 0; index < 4; ++index) {
        const int tag = index + 1;
        ErrorDisplay::connectGuarded(m_controls.diagnosisButtons[index], &QAbstractButton::clicked, this,
                                     [this, tag] { TntSpeedButton1Click(tag); });
        ErrorDisplay::connectGuarded(m_controls.treatmentButtons[index], &QAbstractButton::clicked, this,
                                     [this, tag] { TntSpeedButton21Click(tag); });
        for (QComboBox *line : {m_controls.diagnosisLines[index], m_controls.treatmentLines[index]}) {
            // Typing alone stores nothing: a text becomes a phrase only through a save.
            line->setEditable(true);
            line->setInsertPolicy(QComboBox::NoInsert);
        }
    }
    // Every change of the box's state, by the operator or by a reload, runs the reaction.
    connect(m_controls.ckbHaveTreat, &QCheckBox::toggled, this, [this] { ckbHaveTreatClick(); });
}

QString PhraseLibrary::sectionOf(Group group)
{
    return group == Group::Diagnosis ? QStringLiteral("Symptom") : QStringLiteral("Treatment");
}

const std::array<QComboBox *, 4> &PhraseLibrary::linesOf(Group group) const
{
    return group == Group::Diagnosis ? m_controls.diagnosisLines : m_controls.treatmentLines;
}

int PhraseLibrary::comparePhrases(const QString &a, const QString &b)
{
    return phraseCollator().compare(a, b);
}

qsizetype PhraseLibrary::indexOfPhrase(const QStringList &list, const QString &phrase)
{
    return indexIn(phraseCollator(), list, phrase);
}

QStringList PhraseLibrary::ReadPhraseList(IniFile &settings, const QString &section)
{
    QStringList values;
    for (const QString &line : settings.readSection(section)) {
        const qsizetype equals = line.indexOf(u'=');
        values.append(equals < 0 ? line : line.mid(equals + 1));
    }
    const QCollator collator = phraseCollator();
    std::stable_sort(values.begin(), values.end(),
                     [&](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });
    return values;
}

void PhraseLibrary::LoadPhraseChoices(Group group)
{
    const QStringList phrases = ReadPhraseList(m_settings, sectionOf(group));
    for (QComboBox *line : linesOf(group)) {
        const QString shown = line->currentText();
        const QSignalBlocker quiet(line);
        line->clear();
        // The empty choice first: picking it empties the line.
        line->addItem(QString());
        line->addItems(phrases);
        line->setCurrentIndex(-1);
        line->setEditText(shown);
    }
}

void PhraseLibrary::RememberPhrases(Group group)
{
    const QString section = sectionOf(group);
    const QStringList phrases = ReadPhraseList(m_settings, section);
    const QCollator collator = phraseCollator();
    // Keys after the phrases' count; in a section edited by hand such a key may be taken, and
    // writing it would replace a phrase, so each new one takes the first free key above.
    QSet<QString> used;
    for (const QString &line : m_settings.readSection(section)) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0)
            used.insert(Text::trimmed(line.left(equals)).toLower());
    }
    qsizetype key = phrases.size();
    // Compared against the list as read, so one new text standing in two lines is written
    // twice; the lines themselves are left as they are.
    for (QComboBox *line : linesOf(group)) {
        const QString text = Text::trimmed(line->currentText());
        if (text.isEmpty() || indexIn(collator, phrases, text) >= 0)
            continue;
        do
            ++key;
        while (used.contains(QString::number(key)));
        used.insert(QString::number(key));
        m_settings.writeString(section, QString::number(key), text);
    }
}

bool PhraseLibrary::ForgetPhrase(Group group, int line)
{
    const QString section = sectionOf(group);
    QStringList phrases = ReadPhraseList(m_settings, section);
    QComboBox *box = linesOf(group)[line - 1];
    const qsizetype found = indexOfPhrase(phrases, Text::trimmed(box->currentText()));
    if (found < 0)
        return false;
    phrases.removeAt(found);
    // Rewritten from key 1 in sorted order, so the keys stay 1..n without gaps; one write of
    // the file, so a crash cannot leave the library half rewritten.
    QStringList lines;
    lines.reserve(phrases.size());
    for (qsizetype i = 0; i < phrases.size(); ++i)
        lines.append(QString::number(i + 1) + u'=' + phrases.at(i));
    m_settings.replaceSection(section, lines);
    box->setEditText(QString());
    return true;
}

void PhraseLibrary::TntSpeedButton1Click(int tag)
{
    ForgetPhrase(Group::Diagnosis, tag);
    LoadPhraseChoices(Group::Diagnosis);
}

void PhraseLibrary::TntSpeedButton21Click(int tag)
{
    ForgetPhrase(Group::Treatment, tag);
    LoadPhraseChoices(Group::Treatment);
}

void PhraseLibrary::ckbHaveTreatClick()
{
    const bool on = m_controls.ckbHaveTreat->isChecked();
    for (QComboBox *line : m_controls.treatmentLines) {
        line->setEnabled(on);
        if (!on)
            line->setEditText(QString());
    }
}

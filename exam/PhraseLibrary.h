#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

class IniFile;
class QAbstractButton;
class QCheckBox;
class QComboBox;

// The controls of the diagnosis and treatment lines, index 0 being line 1.
struct PhraseControls {
    std::array<QComboBox *, 4> diagnosisLines{}; // TntComboBox1 .. TntComboBox4
    std::array<QAbstractButton *, 4> diagnosisButtons{}; // TntSpeedButton1 .. 4, "-"
    std::array<QComboBox *, 4> treatmentLines{}; // TntComboBox21 .. TntComboBox24
    std::array<QAbstractButton *, 4> treatmentButtons{}; // TntSpeedButton21 .. 24, "-"
    QCheckBox *ckbHaveTreat = nullptr;
};

// The phrase library: remembered diagnosis and treatment phrases in the sections Symptom and
// Treatment of system.ini, offered as the choices of the sheet's lines. Nothing is cached:
// every operation reads its section from the settings store when it runs. Window thread only.
class PhraseLibrary : public QObject {
    Q_OBJECT

public:
    enum class Group { Diagnosis, Treatment };

    // Connects the "-" buttons and the check box; fills no choices (start-up calls
    // LoadPhraseChoices for both groups).
    PhraseLibrary(IniFile &settings, const PhraseControls &controls, QObject *parent = nullptr);

    // The values of a section (the text after the first "=" of each line), sorted with
    // comparePhrases; duplicates stay. Also used for the report header lists.
    static QStringList ReadPhraseList(IniFile &settings, const QString &section);
    // The user's locale collation, ignoring letter case: sorting, finding and duplicates.
    static int comparePhrases(const QString &a, const QString &b);
    static qsizetype indexOfPhrase(const QStringList &list, const QString &phrase);

    void LoadPhraseChoices(Group group);
    // Writes every line text the library does not hold yet under the next free keys.
    void RememberPhrases(Group group);
    // Removes the phrase shown in line k (1..4) from the library and empties the line;
    // returns false (nothing written, text kept) when the library does not hold it.
    bool ForgetPhrase(Group group, int line);

    void TntSpeedButton1Click(int tag);
    void TntSpeedButton21Click(int tag);
    void ckbHaveTreatClick();

    static QString sectionOf(Group group);

private:
    const std::array<QComboBox *, 4> &linesOf(Group group) const;

    IniFile &m_settings;
    PhraseControls m_controls;
};

#include "exam/PhraseLibrary.h"

#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "core/IniFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

using Group = PhraseLibrary::Group;

class PhraseLibraryTest : public ::testing::Test {
protected:
    PhraseLibraryTest()
    {
        for (int i = 0; i < 4; ++i) {
            controls.diagnosisLines[i] = new QComboBox(&sheet);
            controls.treatmentLines[i] = new QComboBox(&sheet);
            controls.diagnosisButtons[i] = new QToolButton(&sheet);
            controls.treatmentButtons[i] = new QToolButton(&sheet);
        }
        controls.ckbHaveTreat = new QCheckBox(&sheet);
        settings.setPath(home.file("system.ini"));
        library = std::make_unique<PhraseLibrary>(settings, controls);
        controls.ckbHaveTreat->setChecked(true);
    }

    void store(const QByteArray &content)
    {
        home.write("system.ini", content);
        settings.setPath(home.file("system.ini")); // reload from disk
    }
    // What the file holds, read by a store of its own.
    QStringList onDisk(const QString &section) const
    {
        IniFile fresh;
        fresh.setPath(home.file("system.ini"));
        return fresh.readSection(section);
    }
    static QStringList choices(QComboBox *line)
    {
        QStringList items;
        for (int i = 0; i < line->count(); ++i)
            items.append(line->itemText(i));
        return items;
    }
    QComboBox *diagnosis(int k) const { return controls.diagnosisLines[k - 1]; }
    QComboBox *treatment(int k) const { return controls.treatmentLines[k - 1]; }

    TestHome home;
    ScriptedDialogs dialogs;
    QWidget sheet;
    PhraseControls controls;
    IniFile settings;
    std::unique_ptr<PhraseLibrary> library;
};

TEST_F(PhraseLibraryTest, EmptyLibraryOffersOnlyTheEmptyChoice)
{
    library->LoadPhraseChoices(Group::Diagnosis);
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(choices(diagnosis(k)), QStringList({""}));
}

TEST_F(PhraseLibraryTest, ChoicesAreSortedIgnoringCaseAndKeepTheShownText)
{
    store("[Symptom]\r\n1=b\r\n2=a\r\n3=C\r\n4=a\r\n[Treatment]\r\n1=rest\r\n");
    diagnosis(2)->setEditText("typed");
    library->LoadPhraseChoices(Group::Diagnosis);
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(choices(diagnosis(k)), QStringList({"", "a", "a", "b", "C"}));
    EXPECT_EQ(diagnosis(2)->currentText(), "typed");
    EXPECT_EQ(diagnosis(1)->currentText(), "");
    EXPECT_EQ(choices(treatment(1)), QStringList()); // the other group is not touched
}

TEST_F(PhraseLibraryTest, RememberWritesEachNewTextUnderTheNextKey)
{
    store("[Symptom]\r\n1=a\r\n");
    diagnosis(1)->setEditText("  x ");
    diagnosis(2)->setEditText("   ");
    diagnosis(3)->setEditText("X");
    diagnosis(4)->setEditText("A");
    library->RememberPhrases(Group::Diagnosis);
    // Compared with the library as read, so x and X both go in; A is already there as a.
    EXPECT_EQ(onDisk("Symptom"), QStringList({"1=a", "2=x", "3=X"}));
    EXPECT_EQ(diagnosis(1)->currentText(), "  x "); // the lines stay as shown
    EXPECT_TRUE(onDisk("Treatment").isEmpty());
}

// In a section edited by hand the next key may be taken; no phrase is ever overwritten.
TEST_F(PhraseLibraryTest, NewPhrasesTakeTheFirstFreeKeys)
{
    store("[Symptom]\r\n2=p\r\n3=q\r\n");
    diagnosis(1)->setEditText("r");
    diagnosis(2)->setEditText("s");
    library->RememberPhrases(Group::Diagnosis);
    EXPECT_EQ(onDisk("Symptom"), QStringList({"2=p", "3=q", "4=r", "5=s"}));
}

TEST_F(PhraseLibraryTest, RememberOfTreatmentsGoesToItsOwnSection)
{
    treatment(3)->setEditText("rest");
    library->RememberPhrases(Group::Treatment);
    EXPECT_EQ(onDisk("Treatment"), QStringList({"1=rest"}));
    EXPECT_TRUE(onDisk("Symptom").isEmpty());
}

TEST_F(PhraseLibraryTest, MinusRemovesThePhraseIgnoringCaseAndRenumbers)
{
    store("[Symptom]\r\n1=b\r\n2=c\r\n");
    library->LoadPhraseChoices(Group::Diagnosis);
    diagnosis(1)->setEditText("kept");
    diagnosis(2)->setEditText("B");
    QTest::mouseClick(controls.diagnosisButtons[1], Qt::LeftButton);
    EXPECT_EQ(onDisk("Symptom"), QStringList({"1=c"}));
    EXPECT_EQ(diagnosis(2)->currentText(), "");
    EXPECT_EQ(diagnosis(1)->currentText(), "kept");
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(choices(diagnosis(k)), QStringList({"", "c"}));
}

TEST_F(PhraseLibraryTest, MinusRemovesOneOccurrenceAndWritesTheRestSorted)
{
    store("[Symptom]\r\n1=d\r\n2=a\r\n3=d\r\n4=b\r\n");
    diagnosis(4)->setEditText("d");
    EXPECT_TRUE(library->ForgetPhrase(Group::Diagnosis, 4));
    EXPECT_EQ(onDisk("Symptom"), QStringList({"1=a", "2=b", "3=d"}));
}

TEST_F(PhraseLibraryTest, MinusOnAnUnknownTextWritesNothing)
{
    const QByteArray content = "[Symptom]\r\n2=b\r\n1=a\r\n";
    store(content);
    diagnosis(3)->setEditText("unknown");
    QTest::mouseClick(controls.diagnosisButtons[2], Qt::LeftButton);
    EXPECT_EQ(home.read("system.ini"), content);
    EXPECT_EQ(diagnosis(3)->currentText(), "unknown");
    EXPECT_EQ(choices(diagnosis(1)), QStringList({"", "a", "b"})); // reloaded all the same
}

TEST_F(PhraseLibraryTest, RemovingTheLastPhraseRemovesTheSection)
{
    store("[Symptom]\r\n1=a\r\n[Treatment]\r\n1=rest\r\n");
    treatment(4)->setEditText("REST");
    QTest::mouseClick(controls.treatmentButtons[3], Qt::LeftButton);
    EXPECT_TRUE(onDisk("Treatment").isEmpty());
    EXPECT_FALSE(home.read("system.ini").contains("[Treatment]"));
    EXPECT_EQ(onDisk("Symptom"), QStringList({"1=a"}));
    EXPECT_EQ(choices(treatment(1)), QStringList({""}));
}

TEST_F(PhraseLibraryTest, TreatmentBoxSwitchesTheLines)
{
    treatment(1)->setEditText("rest");
    controls.ckbHaveTreat->setChecked(false);
    for (int k = 1; k <= 4; ++k) {
        EXPECT_FALSE(treatment(k)->isEnabled());
        EXPECT_EQ(treatment(k)->currentText(), "");
        EXPECT_TRUE(controls.treatmentButtons[k - 1]->isEnabled());
    }
    controls.ckbHaveTreat->click();
    EXPECT_TRUE(controls.ckbHaveTreat->isChecked());
    for (int k = 1; k <= 4; ++k) {
        EXPECT_TRUE(treatment(k)->isEnabled());
        EXPECT_EQ(treatment(k)->currentText(), "");
    }
}

} // namespace

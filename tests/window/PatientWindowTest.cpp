// The patient group of the main window as the operator uses it: look-up while typing in the
// number, name and telephone fields, the number list and the patient grid, "+" and "-", each
// checked against the window's own database.
#include "WindowFixture.h"
#include "exam/PictureSlots.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

namespace {

class PatientWindow : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        addPatient({.client_id = QStringLiteral("10001"),
                    .client_name = QStringLiteral("Zhang San"),
                    .sex = QStringLiteral("Female"),
                    .age = QStringLiteral("34"),
                    .client_phone = QStringLiteral("13800000001"),
                    .address = QStringLiteral("1 Beijing Road")});
        addPatient({.client_id = QStringLiteral("10002"),
                    .client_name = QStringLiteral("Zhang Wei"),
                    .sex = QStringLiteral("Male"),
                    .age = QStringLiteral("51"),
                    .client_phone = QStringLiteral("13900000002"),
                    .address = QStringLiteral("2 Nanjing Road")});
        addPatient({.client_id = QStringLiteral("10003"),
                    .client_name = QStringLiteral("Li Na"),
                    .sex = QStringLiteral("Female"),
                    .age = QStringLiteral("28"),
                    .client_phone = QStringLiteral("13700000003"),
                    .address = QStringLiteral("3 Shanghai Road")});
        addPatient(QStringLiteral("20001"), QStringLiteral("Wang Fang"));
        addPatient(QStringLiteral("A12"), QStringLiteral("Typed Number"));
    }

    QStringList listedNumbers() const
    {
        QStringList numbers;
        const QAbstractItemModel *model = window->lstNumber->model();
        for (int row = 0; row < model->rowCount(); ++row)
            numbers << model->index(row, 0).data().toString();
        return numbers;
    }

    // The five fields that a known number fills, in the order name, sex, age, telephone, address.
    QStringList patientFields() const
    {
        return {window->edtName->text(), window->cbSex->currentText(), window->edtAge->text(), window->edtTel->text(),
                window->edtAddr->text()};
    }

    void expectFirstPatientShown() const
    {
        EXPECT_EQ(patientFields(), QStringList({"Zhang San", "Female", "34", "13800000001", "1 Beijing Road"}));
    }

    void expectPatientFieldsEmpty() const
    {
        for (const QString &text : patientFields())
            EXPECT_TRUE(text.isEmpty()) << text.toStdString();
    }

    // Fills every part of the sheet that the patient operations empty or keep.
    void fillSheet()
    {
        window->mmSymp5->setPlainText(QStringLiteral("Mucosa smooth"));
        window->symptomLines[0]->setEditText(QStringLiteral("Gastritis"));
        window->symptomLines[3]->setEditText(QStringLiteral("Ulcer"));
        window->treatLines[0]->setEditText(QStringLiteral("Rest"));
        QImage picture(32, 24, QImage::Format_RGB888);
        picture.fill(Qt::red);
        window->pictureSlots().setSnapshot(1, picture, QStringLiteral("20240101120000000.jpg"));
        window->pictureSlots().setCaptureSize(2, QSize(640, 480));
    }

    void expectSheetEmpty() const
    {
        EXPECT_TRUE(window->mmSymp5->toPlainText().isEmpty());
        for (QComboBox *line : window->symptomLines)
            EXPECT_TRUE(line->currentText().isEmpty()) << line->objectName().toStdString();
        for (QComboBox *line : window->treatLines)
            EXPECT_TRUE(line->currentText().isEmpty()) << line->objectName().toStdString();
        EXPECT_TRUE(window->pictureSlots().picture(1).isNull());
    }
};

// ---- number field and number list -------------------------------------------------------------

TEST_F(PatientWindow, aNumberPrefixShowsTheMatchingNumbersInAListHangingBelowTheField)
{
    typeInto(window->edtNumber, QStringLiteral("1000"));

    ASSERT_TRUE(window->lstNumber->isVisible());
    EXPECT_EQ(listedNumbers(), QStringList({"10001", "10002", "10003"}));
    const QPoint fieldBottomLeft = window->edtNumber->mapTo(window->TntPanel1, QPoint(0, window->edtNumber->height()));
    EXPECT_EQ(window->lstNumber->geometry(), QRect(fieldBottomLeft, QSize(window->edtNumber->width(), 3 * 16 + 4)));
    // In front of the sheet below it, so the operator can reach every entry.
    const QPoint middle = window->lstNumber->geometry().center();
    QWidget *onTop = window->TntPanel1->childAt(middle);
    EXPECT_TRUE(onTop == window->lstNumber || window->lstNumber->isAncestorOf(onTop));

    // Deleting the whole number only hides the list.
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(window->edtNumber, Qt::Key_Backspace);
    EXPECT_FALSE(window->lstNumber->isVisible());
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
}

TEST_F(PatientWindow, moreThanSixNumbersScrollInAListSixEntriesHigh)
{
    for (int number = 10004; number <= 10012; ++number)
        addPatient(QString::number(number));
    typeInto(window->edtNumber, QStringLiteral("1"));

    ASSERT_TRUE(window->lstNumber->isVisible());
    EXPECT_EQ(window->lstNumber->height(), 6 * 16 + 4);
    EXPECT_EQ(listedNumbers().size(), 12);
    EXPECT_EQ(listedNumbers().first(), QStringLiteral("10001"));
    EXPECT_FALSE(listedNumbers().contains(QStringLiteral("20001")));
    EXPECT_FALSE(listedNumbers().contains(QStringLiteral("A12")));
}

TEST_F(PatientWindow, aKnownNumberFillsThePatientAndOneMoreDigitClearsItAgain)
{
    fillSheet();
    typeInto(window->edtNumber, QStringLiteral("10001"));

    expectFirstPatientShown();
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10001"));
    EXPECT_FALSE(window->lstNumber->isVisible());
    // A patient change forgets the capture sizes of the slots.
    EXPECT_EQ(window->pictureSlots().captureSize(2), QSize(0, 0));

    // "100010" is nobody: the patient and the sheet go, the number keeps what was typed.
    window->mmSymp5->setPlainText(QStringLiteral("Mucosa smooth"));
    QTest::keyClicks(window->edtNumber, QStringLiteral("0"));
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("100010"));
    expectPatientFieldsEmpty();
    EXPECT_TRUE(window->mmSymp5->toPlainText().isEmpty());
    EXPECT_FALSE(window->lstNumber->isVisible());
}

TEST_F(PatientWindow, doubleClickingAListedNumberTakesThatPatient)
{
    typeInto(window->edtNumber, QStringLiteral("1000"));
    ASSERT_TRUE(window->lstNumber->isVisible());

    doubleClickRow(window->lstNumber, 1);

    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10002"));
    EXPECT_EQ(patientFields(), QStringList({"Zhang Wei", "Male", "51", "13900000002", "2 Nanjing Road"}));
    EXPECT_FALSE(window->lstNumber->isVisible());
}

TEST_F(PatientWindow, aKnownNumberShowsItsLatestExaminationAndTakingItAgainFromTheGridKeepsTheSheet)
{
    addRecord(QStringLiteral("10001"), QStringLiteral("First visit"));
    addRecord(QStringLiteral("10001"), QStringLiteral("Second visit"));
    typeInto(window->edtNumber, QStringLiteral("10001"));
    EXPECT_EQ(window->mmSymp5->toPlainText(), QStringLiteral("Second visit"));

    // The operator edits the findings, then finds the same patient by telephone and takes the
    // row: the number is the one already shown, so nothing is reloaded over the edit.
    window->mmSymp5->setPlainText(QStringLiteral("Edited"));
    typeInto(window->edtTel, QString());
    QTest::keyClick(window->edtTel, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window->edtTel, Qt::Key_Backspace);
    ASSERT_TRUE(window->edtTel->text().isEmpty());
    QTest::keyClicks(window->edtTel, QStringLiteral("1380"));
    ASSERT_TRUE(window->plGrid->isVisible());
    doubleClickRow(window->clientGrid, 0);

    EXPECT_EQ(window->edtTel->text(), QStringLiteral("13800000001"));
    EXPECT_EQ(window->mmSymp5->toPlainText(), QStringLiteral("Edited"));
    EXPECT_FALSE(window->plGrid->isVisible());
}

// ---- name and telephone fields, patient grid --------------------------------------------------

TEST_F(PatientWindow, aNamePrefixShowsTheGridAndDoubleClickingARowTakesThatPatient)
{
    typeInto(window->edtName, QStringLiteral("zhang"));

    ASSERT_TRUE(window->plGrid->isVisible());
    const QAbstractItemModel *rows = window->clientGrid->model();
    ASSERT_EQ(rows->rowCount(), 2);
    ASSERT_EQ(rows->columnCount(), 6);
    EXPECT_EQ(rows->index(0, 0).data().toString(), QStringLiteral("10001"));
    EXPECT_EQ(rows->index(1, 1).data().toString(), QStringLiteral("Zhang Wei"));
    EXPECT_EQ(rows->index(1, 4).data().toString(), QStringLiteral("13900000002"));
    EXPECT_EQ(rows->index(1, 5).data().toString(), QStringLiteral("2 Nanjing Road"));
    const int widths[6] = {50, 50, 50, 50, 80, 170};
    for (int column = 0; column < 6; ++column)
        EXPECT_EQ(window->clientGrid->columnWidth(column), widths[column]) << column;

    doubleClickRow(window->clientGrid, 1);

    EXPECT_FALSE(window->plGrid->isVisible());
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10002"));
    EXPECT_EQ(patientFields(), QStringList({"Zhang Wei", "Male", "51", "13900000002", "2 Nanjing Road"}));
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
}

TEST_F(PatientWindow, aTelephonePrefixShowsTheGridToo)
{
    typeInto(window->edtTel, QStringLiteral("1370"));
    ASSERT_TRUE(window->plGrid->isVisible());
    ASSERT_EQ(window->clientGrid->model()->rowCount(), 1);
    EXPECT_EQ(window->clientGrid->model()->index(0, 1).data().toString(), QStringLiteral("Li Na"));

    doubleClickRow(window->clientGrid, 0);
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10003"));
    EXPECT_EQ(window->edtName->text(), QStringLiteral("Li Na"));
    EXPECT_FALSE(window->plGrid->isVisible());
}

TEST_F(PatientWindow, aTelephoneWithoutMatchKeepsThePatientButANameWithoutMatchClearsIt)
{
    typeInto(window->edtNumber, QStringLiteral("10001"));
    expectFirstPatientShown();
    window->mmSymp5->setPlainText(QStringLiteral("Mucosa smooth"));

    typeInto(window->edtTel, QStringLiteral("9"));
    EXPECT_FALSE(window->plGrid->isVisible());
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10001"));
    EXPECT_EQ(window->edtName->text(), QStringLiteral("Zhang San"));
    EXPECT_EQ(window->mmSymp5->toPlainText(), QStringLiteral("Mucosa smooth"));

    typeInto(window->edtName, QStringLiteral("x"));
    EXPECT_FALSE(window->plGrid->isVisible());
    // Every field but the one typed in is emptied, the number too, and the sheet.
    EXPECT_EQ(window->edtName->text(), QStringLiteral("Zhang Sanx"));
    EXPECT_TRUE(window->edtNumber->text().isEmpty());
    EXPECT_TRUE(window->edtTel->text().isEmpty());
    EXPECT_TRUE(window->edtAge->text().isEmpty());
    EXPECT_TRUE(window->edtAddr->text().isEmpty());
    EXPECT_TRUE(window->mmSymp5->toPlainText().isEmpty());
    // Nothing was deleted by clearing the fields.
    EXPECT_EQ(patientRows(QStringLiteral("10001")), 1);
}

// ---- leaving the fields -----------------------------------------------------------------------

TEST_F(PatientWindow, leavingTheNumberFieldOrTheListHidesTheList)
{
    typeInto(window->edtNumber, QStringLiteral("1000"));
    ASSERT_TRUE(window->lstNumber->isVisible());
    clickOn(window->edtAge);
    EXPECT_FALSE(window->lstNumber->isVisible());

    // Going from the field into the list keeps it; leaving the list hides it.
    typeInto(window->edtNumber, QString());
    QTest::keyClick(window->edtNumber, Qt::Key_Backspace);
    ASSERT_EQ(window->edtNumber->text(), QStringLiteral("100"));
    ASSERT_TRUE(window->lstNumber->isVisible());
    const QPoint firstEntry = window->lstNumber->visualRect(window->lstNumber->model()->index(0, 0)).center();
    QTest::mouseClick(window->lstNumber->viewport(), Qt::LeftButton, {}, firstEntry);
    EXPECT_TRUE(window->lstNumber->hasFocus());
    EXPECT_TRUE(window->lstNumber->isVisible());
    // A single click only picks the entry out; the number stays as typed.
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("100"));
    clickOn(window->edtAddr);
    EXPECT_FALSE(window->lstNumber->isVisible());
}

TEST_F(PatientWindow, leavingTheNameFieldOrTheGridHidesTheGrid)
{
    typeInto(window->edtName, QStringLiteral("Zhang"));
    ASSERT_TRUE(window->plGrid->isVisible());
    clickOn(window->edtAge);
    EXPECT_FALSE(window->plGrid->isVisible());

    // Into the grid the grid stays; out of the grid it goes.
    typeInto(window->edtName, QStringLiteral(" "));
    ASSERT_TRUE(window->plGrid->isVisible());
    const QPoint firstRow = window->clientGrid->visualRect(window->clientGrid->model()->index(0, 0)).center();
    QTest::mouseClick(window->clientGrid->viewport(), Qt::LeftButton, {}, firstRow);
    EXPECT_TRUE(window->clientGrid->hasFocus());
    EXPECT_TRUE(window->plGrid->isVisible());
    clickOn(window->edtAddr);
    EXPECT_FALSE(window->plGrid->isVisible());
    // Looking a row over takes nothing.
    EXPECT_TRUE(window->edtNumber->text().isEmpty());
}

TEST_F(PatientWindow, aClickOnThePatientGroupBackgroundHidesTheList)
{
    typeInto(window->edtNumber, QStringLiteral("1000"));
    ASSERT_TRUE(window->lstNumber->isVisible());
    const QPoint background(window->TntGroupBox1->width() - 8, 10);
    ASSERT_EQ(window->TntGroupBox1->childAt(background), nullptr);

    QTest::mouseClick(window->TntGroupBox1, Qt::LeftButton, {}, background);
    EXPECT_FALSE(window->lstNumber->isVisible());
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("1000"));
}

TEST_F(PatientWindow, thePointerPassingOverThePatientGroupHidesTheList)
{
    typeInto(window->edtNumber, QStringLiteral("1000"));
    ASSERT_TRUE(window->lstNumber->isVisible());
    QTest::mouseMove(window->TntGroupBox1, QPoint(window->TntGroupBox1->width() - 8, 10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->lstNumber->isVisible(); }, 1000));
    EXPECT_FALSE(window->edtNumber->hasFocus());
}

// ---- "+" and "-" ------------------------------------------------------------------------------

TEST_F(PatientWindow, newPatientEmptiesThePatientAndTheSheetButKeepsTheHeader)
{
    typeInto(window->edtNumber, QStringLiteral("10001"));
    expectFirstPatientShown();
    fillSheet();
    window->cbTitle->setEditText(QStringLiteral("Gastroscopy"));
    window->cbProposer->setEditText(QStringLiteral("Dr. Chen"));
    window->edtDoctor->setText(QStringLiteral("Dr. Li"));
    window->ckbHaveTreat->setChecked(false);

    clickOn(window->btnNew);

    EXPECT_TRUE(window->edtNumber->text().isEmpty());
    expectPatientFieldsEmpty();
    expectSheetEmpty();
    EXPECT_FALSE(window->lstNumber->isVisible());
    EXPECT_EQ(window->cbTitle->currentText(), QStringLiteral("Gastroscopy"));
    EXPECT_EQ(window->cbProposer->currentText(), QStringLiteral("Dr. Chen"));
    EXPECT_EQ(window->edtDoctor->text(), QStringLiteral("Dr. Li"));
    EXPECT_FALSE(window->ckbHaveTreat->isChecked());
    // No number is drawn and nobody is stored or removed.
    EXPECT_EQ(patientRows(QStringLiteral("10001")), 1);
    EXPECT_EQ(allPatients(), 5);
}

TEST_F(PatientWindow, deletingAPatientRemovesThePatientWithEveryRecordAndNobodyElse)
{
    for (int i = 0; i < 3; ++i)
        addRecord(QStringLiteral("10001"));
    addRecord(QStringLiteral("10002"));
    typeInto(window->edtNumber, QStringLiteral("10001"));
    expectFirstPatientShown();
    fillSheet();

    clickOn(window->btnDelCient);

    EXPECT_EQ(patientRows(QStringLiteral("10001")), 0);
    EXPECT_EQ(recordRows(QStringLiteral("10001")), 0);
    EXPECT_EQ(patientRows(QStringLiteral("10002")), 1);
    EXPECT_EQ(recordRows(QStringLiteral("10002")), 1);
    EXPECT_TRUE(window->edtNumber->text().isEmpty());
    expectPatientFieldsEmpty();
    expectSheetEmpty();
    EXPECT_FALSE(window->lstNumber->isVisible());
    EXPECT_FALSE(db().inTransaction());
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();

    // The number is free again: typing it finds nobody.
    typeInto(window->edtNumber, QStringLiteral("10001"));
    expectPatientFieldsEmpty();
}

TEST_F(PatientWindow, aDeletionTheDatabaseRefusesLeavesThePatientTheRecordsAndTheFields)
{
    for (int i = 0; i < 3; ++i)
        addRecord(QStringLiteral("10001"));
    // The records go first, then the patient is refused: the records must come back.
    db().run(QStringLiteral("create trigger keep_patients before delete on t_clients"
                            " begin select raise(abort, 'patients are kept'); end"),
             {});
    typeInto(window->edtNumber, QStringLiteral("10001"));
    fillSheet();

    clickOn(window->btnDelCient);

    EXPECT_EQ(patientRows(QStringLiteral("10001")), 1);
    EXPECT_EQ(recordRows(QStringLiteral("10001")), 3);
    EXPECT_FALSE(db().inTransaction());
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10001"));
    expectFirstPatientShown();
    EXPECT_EQ(window->mmSymp5->toPlainText(), QStringLiteral("Mucosa smooth"));
    EXPECT_FALSE(window->pictureSlots().picture(1).isNull());
    EXPECT_TRUE(dialogs.boxes().isEmpty()) << dialogs.texts().join(u'|').toStdString();
}

TEST_F(PatientWindow, deletingAnUnknownNumberDeletesNothingAndEmptiesTheFields)
{
    addRecord(QStringLiteral("10001"));
    typeInto(window->edtNumber, QStringLiteral("1000"));
    window->edtAge->setText(QStringLiteral("40"));
    fillSheet();

    clickOn(window->btnDelCient);

    EXPECT_EQ(allPatients(), 5);
    EXPECT_EQ(recordRows(QStringLiteral("10001")), 1);
    EXPECT_TRUE(window->edtNumber->text().isEmpty());
    expectPatientFieldsEmpty();
    expectSheetEmpty();
}

} // namespace

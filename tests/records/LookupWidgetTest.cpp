#include "RecordsFixture.h"
#include "ScriptedDialogs.h"
#include "core/AppError.h"
#include "records/ClientQuery.h"
#include "records/NumberListModel.h"
#include "records/PatientLookup.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>

// The patient group, the number list and the grid laid out as in the window's left pane.
class LookupWidgetTest : public RecordsTest {
protected:
    void SetUp() override
    {
        RecordsTest::SetUp();
        window.resize(577, 700);
        pane = new QWidget(&window);
        pane->setGeometry(0, 0, 577, 700);
        group = new QGroupBox(pane);
        group->setGeometry(8, 8, 561, 80);
        c.edtNumber = new QLineEdit(group);
        c.edtNumber->setGeometry(40, 16, 90, 21);
        c.edtName = new QLineEdit(group);
        c.edtName->setGeometry(180, 16, 90, 21);
        c.cbSex = new QComboBox(group);
        c.cbSex->setEditable(true);
        c.cbSex->addItems({QStringLiteral("M"), QStringLiteral("F")});
        c.cbSex->setGeometry(320, 16, 60, 21);
        c.edtAge = new QLineEdit(group);
        c.edtAge->setGeometry(420, 16, 40, 21);
        c.edtTel = new QLineEdit(group);
        c.edtTel->setGeometry(40, 48, 90, 21);
        c.edtAddr = new QLineEdit(group);
        c.edtAddr->setGeometry(180, 48, 200, 21);
        c.lstNumber = new QListView(pane);
        c.plGrid = new QFrame(pane);
        c.plGrid->setGeometry(8, 96, 553, 281);
        c.clientGrid = new QTableView(c.plGrid);
        c.clientGrid->setGeometry(24, 24, 497, 233);
        c.TntGroupBox1 = group;
        memo = new QPlainTextEdit(pane);
        memo->setGeometry(8, 400, 300, 100);
        c.mmSymp5 = memo;
        for (size_t i = 0; i < 4; ++i) {
            c.diagnosisLines[i] = new QComboBox(pane);
            c.diagnosisLines[i]->setEditable(true);
            c.treatmentLines[i] = new QComboBox(pane);
            c.treatmentLines[i]->setEditable(true);
        }
        hooks.LoadLastExamination = [this](const QString &n) { loaded.append(n); };
        hooks.clearSlotPictures = [this] { ++slotClears; };
        hooks.resetSlotSizes = [this] { ++sizeResets; };
        hooks.labelCaption = [](const QString &label) {
            return label == u"lbTel" ? QStringLiteral("Phone") : QString();
        };
        lookup = std::make_unique<PatientLookup>(db, c, hooks);

        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void TearDown() override { EXPECT_TRUE(dialogs.boxes().isEmpty()) << qPrintable(dialogs.texts().join(u'|')); }

    // Types each character as a key press carrying its text (QTest::keyClicks knows ASCII only).
    static void typeText(QWidget *field, const QString &text)
    {
        for (const QChar ch : text) {
            if (ch == u'\b') {
                QTest::keyClick(field, Qt::Key_Backspace);
                continue;
            }
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(field, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(field, &release);
        }
    }
    void typeInto(QWidget *field, const QString &text)
    {
        field->setFocus();
        typeText(field, text);
    }

    void fillSheet()
    {
        memo->setPlainText(QStringLiteral("findings"));
        c.diagnosisLines[0]->setEditText(QStringLiteral("diag"));
        c.treatmentLines[3]->setEditText(QStringLiteral("treat"));
    }
    bool sheetEmpty() const
    {
        return memo->toPlainText().isEmpty() && c.diagnosisLines[0]->currentText().isEmpty()
            && c.treatmentLines[3]->currentText().isEmpty();
    }

    ScriptedDialogs dialogs;
    QWidget window;
    QWidget *pane = nullptr;
    QGroupBox *group = nullptr;
    QPlainTextEdit *memo = nullptr;
    PatientControls c;
    PatientHooks hooks;
    QStringList loaded;
    int slotClears = 0;
    int sizeResets = 0;
    std::unique_ptr<PatientLookup> lookup;
};

TEST_F(LookupWidgetTest, ManyMatchesHangBelowTheFieldSixRowsHigh)
{
    {
        ScopedTransaction transaction(db);
        for (int n = 10001; n <= 10250; ++n)
            addPatient(QString::number(n));
        transaction.commit();
    }
    typeInto(c.edtNumber, QStringLiteral("1"));
    ASSERT_TRUE(c.lstNumber->isVisible());
    EXPECT_EQ(c.lstNumber->height(), 100);
    EXPECT_EQ(c.lstNumber->width(), c.edtNumber->width());
    const QPoint fieldBottom = c.edtNumber->mapTo(pane, QPoint(0, c.edtNumber->height()));
    EXPECT_EQ(c.lstNumber->pos(), fieldBottom);
    lookup->numberList()->fetchAll();
    EXPECT_EQ(c.lstNumber->model()->rowCount(), 250);
    EXPECT_TRUE(loaded.isEmpty());
}

TEST_F(LookupWidgetTest, FewMatchesGiveAShorterList)
{
    addPatient(QStringLiteral("10001"));
    addPatient(QStringLiteral("10002"));
    typeInto(c.edtNumber, QStringLiteral("1000"));
    ASSERT_TRUE(c.lstNumber->isVisible());
    EXPECT_EQ(c.lstNumber->height(), 2 * 16 + 4);
}

TEST_F(LookupWidgetTest, ExactNumberLoadsPatientAndHidesList)
{
    addPatient({.client_id = QStringLiteral("10001"),
                .client_name = QStringLiteral("Ann"),
                .sex = QStringLiteral("F"),
                .age = QStringLiteral("40"),
                .client_phone = QStringLiteral("555"),
                .address = QStringLiteral("Street 1")});
    addPatient(QStringLiteral("100012"));
    typeInto(c.edtNumber, QStringLiteral("10001"));
    EXPECT_FALSE(c.lstNumber->isVisible());
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Ann"));
    EXPECT_EQ(c.edtTel->text(), QStringLiteral("555"));
    EXPECT_EQ(c.cbSex->currentText(), QStringLiteral("F"));
    EXPECT_EQ(c.edtAge->text(), QStringLiteral("40"));
    EXPECT_EQ(c.edtAddr->text(), QStringLiteral("Street 1"));
    EXPECT_EQ(loaded, QStringList{QStringLiteral("10001")});
    EXPECT_EQ(sizeResets, 1);
    // The loaded name did not start a name search.
    EXPECT_FALSE(c.plGrid->isVisible());

    // One more digit: unknown, everything but the number is emptied.
    fillSheet();
    typeInto(c.edtNumber, QStringLiteral("0"));
    EXPECT_EQ(c.edtNumber->text(), QStringLiteral("100010"));
    EXPECT_EQ(c.edtName->text(), QString());
    EXPECT_EQ(c.cbSex->currentText(), QString());
    EXPECT_EQ(c.edtAddr->text(), QString());
    EXPECT_TRUE(sheetEmpty());
    EXPECT_GE(slotClears, 1);
    EXPECT_FALSE(c.lstNumber->isVisible());
    typeInto(c.edtNumber, QStringLiteral("\b"));
    EXPECT_EQ(loaded.size(), 2);
}

TEST_F(LookupWidgetTest, ErasingTheNumberOnlyHidesTheList)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    addPatient(QStringLiteral("10002"));
    typeInto(c.edtNumber, QStringLiteral("1000"));
    c.edtName->setText(QStringLiteral("kept")); // no match: the grid stays hidden
    c.edtAddr->setText(QStringLiteral("kept too"));
    fillSheet();
    ASSERT_TRUE(c.lstNumber->isVisible());
    c.edtNumber->setFocus();
    c.edtNumber->selectAll();
    QTest::keyClick(c.edtNumber, Qt::Key_Delete);
    EXPECT_FALSE(c.lstNumber->isVisible());
    EXPECT_EQ(c.edtAddr->text(), QStringLiteral("kept too"));
    EXPECT_FALSE(sheetEmpty());
}

TEST_F(LookupWidgetTest, DuplicatedNumberCountsAsUnknown)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("first")});
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("second")});
    typeInto(c.edtNumber, QStringLiteral("10001"));
    EXPECT_TRUE(loaded.isEmpty());
    EXPECT_EQ(c.edtName->text(), QString());
    EXPECT_TRUE(c.lstNumber->isVisible());
    EXPECT_EQ(c.lstNumber->model()->rowCount(), 2);
}

TEST_F(LookupWidgetTest, HostileNumbersRunWithoutErrors)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    addPatient({.client_id = QStringLiteral("a'b"), .client_name = QStringLiteral("Quote")});
    typeInto(c.edtNumber, QStringLiteral("' or ''='"));
    EXPECT_FALSE(c.lstNumber->isVisible());
    c.edtNumber->clear();
    typeInto(c.edtNumber, QStringLiteral("%1"));
    EXPECT_TRUE(c.lstNumber->isVisible());
    c.edtNumber->clear();
    typeInto(c.edtNumber, QStringLiteral("A'B"));
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Quote"));
    EXPECT_EQ(loaded.last(), QStringLiteral("A'B"));
}

TEST_F(LookupWidgetTest, DoubleClickInListTakesTheNumber)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    addPatient({.client_id = QStringLiteral("10002"), .client_name = QStringLiteral("Bob")});
    typeInto(c.edtNumber, QStringLiteral("1"));
    const QModelIndex second = c.lstNumber->model()->index(1, 0);
    c.lstNumber->setFocus();
    EXPECT_TRUE(c.lstNumber->isVisible()); // the focus went to the list: it stays
    const QPoint where = c.lstNumber->visualRect(second).center();
    QTest::mouseClick(c.lstNumber->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(c.lstNumber->viewport(), Qt::LeftButton, {}, where);
    EXPECT_EQ(c.edtNumber->text(), QStringLiteral("10002"));
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Bob"));
    EXPECT_FALSE(c.lstNumber->isVisible());
}

TEST_F(LookupWidgetTest, LeavingNumberFieldOrClickingGroupHidesList)
{
    addPatient(QStringLiteral("10001"));
    addPatient(QStringLiteral("10002"));
    typeInto(c.edtNumber, QStringLiteral("1"));
    ASSERT_TRUE(c.lstNumber->isVisible());
    c.edtAge->setFocus();
    EXPECT_FALSE(c.lstNumber->isVisible());
    typeInto(c.edtNumber, QStringLiteral("0"));
    ASSERT_TRUE(c.lstNumber->isVisible());
    QTest::mouseClick(group, Qt::LeftButton, {}, QPoint(5, 75));
    EXPECT_FALSE(c.lstNumber->isVisible());
}

TEST_F(LookupWidgetTest, NameSearchFillsGridWithTenRows)
{
    for (int i = 0; i < 12; ++i)
        addPatient({.client_id = QString::number(10001 + i), .client_name = QStringLiteral("Lee %1").arg(i)});
    typeInto(c.edtName, QStringLiteral("LEE"));
    ASSERT_TRUE(c.plGrid->isVisible());
    EXPECT_EQ(c.clientGrid->model()->rowCount(), 10);
    EXPECT_EQ(c.clientGrid->currentIndex().row(), 0);
    EXPECT_TRUE(c.edtName->hasFocus());
    const QAbstractItemModel *model = c.clientGrid->model();
    ASSERT_EQ(model->columnCount(), 6);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("编号"));
    EXPECT_EQ(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Phone"));
    EXPECT_EQ(model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("地址"));
    const int widths[] = {50, 50, 50, 50, 80, 170};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(c.clientGrid->columnWidth(i), widths[i]) << i;
    EXPECT_EQ(c.clientGrid->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(c.clientGrid->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(LookupWidgetTest, NameWithoutMatchClearsFieldsAndSheet)
{
    addPatient({.client_id = QStringLiteral("10001"),
                .client_name = QStringLiteral("Ann"),
                .client_phone = QStringLiteral("555")});
    typeInto(c.edtNumber, QStringLiteral("10001"));
    ASSERT_EQ(c.edtTel->text(), QStringLiteral("555"));
    fillSheet();
    c.edtName->setFocus();
    c.edtName->selectAll();
    typeText(c.edtName, QStringLiteral("Ö'%zz"));
    EXPECT_FALSE(c.plGrid->isVisible());
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Ö'%zz"));
    EXPECT_EQ(c.edtNumber->text(), QString());
    EXPECT_EQ(c.edtTel->text(), QString());
    EXPECT_TRUE(sheetEmpty());
}

TEST_F(LookupWidgetTest, TelephoneWithoutMatchChangesNothingElse)
{
    addPatient({.client_id = QStringLiteral("10001"),
                .client_name = QStringLiteral("Ann"),
                .client_phone = QStringLiteral("555")});
    typeInto(c.edtNumber, QStringLiteral("10001"));
    fillSheet();
    c.edtTel->setFocus();
    c.edtTel->selectAll();
    typeText(c.edtTel, QStringLiteral("9_'"));
    EXPECT_FALSE(c.plGrid->isVisible());
    EXPECT_EQ(c.edtNumber->text(), QStringLiteral("10001"));
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Ann"));
    EXPECT_FALSE(sheetEmpty());
}

TEST_F(LookupWidgetTest, NonAsciiNameMatchesOtherCase)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ärzte Дмитрий")});
    typeInto(c.edtName, QStringLiteral("äRZTE д"));
    ASSERT_TRUE(c.plGrid->isVisible());
    EXPECT_EQ(c.clientGrid->model()->rowCount(), 1);
}

TEST_F(LookupWidgetTest, GridDoubleClickTakesTheRow)
{
    addPatient({.client_id = QStringLiteral("10001"),
                .client_name = QStringLiteral("Ann"),
                .sex = QStringLiteral("F"),
                .age = QStringLiteral("40"),
                .client_phone = QStringLiteral("555"),
                .address = QStringLiteral("Street")});
    addPatient({.client_id = QStringLiteral("10002"),
                .client_name = QStringLiteral("Anna"),
                .client_phone = QStringLiteral("556")});
    typeInto(c.edtName, QStringLiteral("an"));
    ASSERT_TRUE(c.plGrid->isVisible());
    c.clientGrid->setFocus();
    EXPECT_TRUE(c.plGrid->isVisible()); // the focus went to the grid
    const QModelIndex first = c.clientGrid->model()->index(0, 1);
    const QPoint where = c.clientGrid->visualRect(first).center();
    QTest::mouseClick(c.clientGrid->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(c.clientGrid->viewport(), Qt::LeftButton, {}, where);
    EXPECT_FALSE(c.plGrid->isVisible());
    EXPECT_EQ(c.edtNumber->text(), QStringLiteral("10001"));
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Ann"));
    EXPECT_EQ(c.cbSex->currentText(), QStringLiteral("F"));
    EXPECT_EQ(c.edtAddr->text(), QStringLiteral("Street"));
    EXPECT_EQ(loaded, QStringList{QStringLiteral("10001")});
}

TEST_F(LookupWidgetTest, GridRowWithNumberAlreadyShownReloadsNothing)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    typeInto(c.edtNumber, QStringLiteral("10001"));
    ASSERT_EQ(loaded.size(), 1);
    fillSheet();
    c.edtName->setFocus();
    c.edtName->selectAll();
    typeText(c.edtName, QStringLiteral("A"));
    ASSERT_TRUE(c.plGrid->isVisible());
    lookup->clientGridDblClick();
    EXPECT_EQ(loaded.size(), 1);
    EXPECT_EQ(c.edtName->text(), QStringLiteral("Ann"));
    EXPECT_FALSE(sheetEmpty());
    EXPECT_FALSE(c.plGrid->isVisible());
}

TEST_F(LookupWidgetTest, DetachedHandlersRunNothingUntilAttached)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    lookup->DetachPatientHandlers();
    lookup->DetachPatientHandlers(); // no nesting count
    c.edtNumber->setText(QStringLiteral("10001"));
    EXPECT_TRUE(loaded.isEmpty());
    lookup->AttachPatientHandlers();
    c.edtNumber->setText(QStringLiteral("10001")); // same text: no change, nothing runs
    EXPECT_TRUE(loaded.isEmpty());
    c.edtNumber->setText(QStringLiteral("10001 "));
    EXPECT_EQ(loaded, QStringList{QStringLiteral("10001")});
}

TEST_F(LookupWidgetTest, FailingLoadShowsErrorAndAttachesAgain)
{
    addPatient({.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
    lookup.reset();
    hooks.LoadLastExamination = [](const QString &) { throw AppError(QStringLiteral("sheet failed")); };
    lookup = std::make_unique<PatientLookup>(db, c, hooks);
    c.edtNumber->setText(QStringLiteral("10001"));
    ASSERT_EQ(dialogs.texts().size(), 1);
    EXPECT_TRUE(dialogs.texts().first().startsWith(QStringLiteral("sheet failed")));
    dialogs.clear();
    // Attached again: a name change searches.
    c.edtName->setText(QStringLiteral("An"));
    EXPECT_TRUE(c.plGrid->isVisible());
}

namespace {
// Counts the model tester's complaints.
int g_modelComplaints = 0;
QtMessageHandler g_previousHandler = nullptr;
void countModelComplaints(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArray(context.category) == "qt.modeltest")
        ++g_modelComplaints;
    g_previousHandler(type, context, message);
}
} // namespace

TEST_F(LookupWidgetTest, ModelsPassTheModelTester)
{
    {
        ScopedTransaction transaction(db);
        for (int n = 10001; n <= 11200; ++n)
            addPatient({.client_id = QString::number(n), .client_name = QStringLiteral("Name %1").arg(n)});
        transaction.commit();
    }
    g_modelComplaints = 0;
    g_previousHandler = qInstallMessageHandler(countModelComplaints);
    {
        QAbstractItemModelTester numbers(lookup->numberList(), QAbstractItemModelTester::FailureReportingMode::Warning);
        QAbstractItemModelTester grid(lookup->clientQuery(), QAbstractItemModelTester::FailureReportingMode::Warning);
        // On a server's look-up thread the first page and each later one come a moment later.
        for (const bool onThread : {false, true}) {
            lookup->setLookUpsOnThread(onThread);
            c.edtNumber->clear();
            typeInto(c.edtNumber, QStringLiteral("1"));
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    lookup->numberList()->fetchAll();
                    return lookup->numberList()->rowCount() == 1200;
                },
                10000))
                << lookup->numberList()->rowCount();
        }
        lookup->setLookUpsOnThread(false);
        typeInto(c.edtNumber, QStringLiteral("0"));
        typeInto(c.edtName, QStringLiteral("name 1"));
        EXPECT_EQ(lookup->clientQuery()->RecordCount(), 10);
        c.edtName->clear();
        typeInto(c.edtName, QStringLiteral("zz"));
        EXPECT_EQ(lookup->clientQuery()->RecordCount(), 0);
    }
    qInstallMessageHandler(g_previousHandler);
    EXPECT_EQ(g_modelComplaints, 0);
}

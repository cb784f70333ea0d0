#pragma once

// A shown, active main window on a fresh program folder with the shipped language files, and
// the means to fill its database and to type and click on it as the operator does.
#include "DatabaseRows.h"
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "app/untMain.h"
#include "records/Database.h"
#include "records/Statements.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home.installLanguageFiles();
        openWindow();
    }

    // A new window on the same program folder, shown and active as after a start.
    void openWindow()
    {
        window.reset();
        window = std::make_unique<TfrmMain>();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    Database &db() { return window->database(); }

    void addPatient(const QString &number, const QString &name = QString(), const QString &phone = QString())
    {
        Statements::insertPatient(db(), {.client_id = number, .client_name = name, .client_phone = phone});
    }
    void addPatient(const Statements::Patient &patient) { Statements::insertPatient(db(), patient); }

    qint64 addRecord(const QString &number, const QString &findings = QString())
    {
        Statements::ExamRecord record;
        record.client_id = number;
        record.title = QStringLiteral("Gastroscopy");
        record.symptom5 = findings;
        record.printtime = QDateTime(QDate(2016, 3, 3), QTime(14, 5, 9));
        return Statements::insertExamRecord(db(), record);
    }

    // The first column of the first row of a query run on the window's own connection.
    int count(const QString &statement, const QString &number) { return countOf(db(), statement, {{":n", number}}); }
    int patientRows(const QString &number)
    {
        return count(QStringLiteral("select count(*) from t_clients where client_id = :n"), number);
    }
    int allPatients() { return countOf(db(), QStringLiteral("select count(*) from t_clients")); }
    int recordRows(const QString &number)
    {
        return count(QStringLiteral("select count(*) from t_contents where client_id = :n"), number);
    }

    // Clicks into a field (it takes the focus as under the operator's hand) and types.
    static void typeInto(QWidget *field, const QString &text)
    {
        QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(field->width() - 4, field->height() / 2));
        EXPECT_TRUE(field->hasFocus()) << field->objectName().toStdString();
        QTest::keyClicks(field, text);
    }

    static void clickOn(QWidget *control) { QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center()); }

    // Clicks "生成报告" and waits for the save's answer (on a server it comes from its thread).
    void clickSave()
    {
        clickOn(window->btnGenReport);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->btnGenReport->isEnabled(); }, 60000));
    }

    // Counts the paints of the widgets it is installed on.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    };

    // Double-clicks a row of a list or grid, as the operator does: the press makes it current.
    static void doubleClickRow(QAbstractItemView *view, int row)
    {
        const QPoint centre = view->visualRect(view->model()->index(row, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centre);
    }

    // Picks an entry of a drop-down from its open list, as the operator does.
    static void choose(QComboBox *box, const QString &entry)
    {
        const int index = box->findText(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        box->showPopup();
        QAbstractItemView *list = box->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
        const QPoint centre = list->visualRect(list->model()->index(index, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !list->isVisible(); }, 2000));
    }

    TestHome home;
    ScriptedDialogs dialogs;
    std::unique_ptr<TfrmMain> window;
};

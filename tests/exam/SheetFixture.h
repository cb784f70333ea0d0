#pragma once

#include "DatabaseRows.h"
#include "ScriptedDialogs.h"
#include "SheetRig.h"
#include "TestHome.h"
#include "core/IniFile.h"
#include "core/ProgramFolder.h"
#include "records/Statements.h"
#include "ui/LanguageTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

// The program folder of a sheet test, set up before the rig opens its database there: fresh,
// with the shipped language files, or (for a child process of the kill test) its parent's.
struct SheetHome {
    SheetHome()
    {
        const QString sharedHome = qEnvironmentVariable("EXAMSTATION_SHEET_HOME");
        if (sharedHome.isEmpty())
            home.installLanguageFiles();
        else
            ProgramFolder::set(sharedHome);
    }

    TestHome home;
    ScriptedDialogs dialogs;
};

// The examination sheet as the window builds it (SheetRig) with the English message texts
// answered by scripted boxes; the keys of the messages shown are kept.
class SheetFixture : public ::testing::Test, protected SheetHome, protected SheetRig {
protected:
    SheetFixture()
        : SheetRig(DatabaseParameters::fromConfig(), [this](const QString &key) {
            shownKeys.append(key);
            ExaminationSheet::messagesOf (*language)(key);
        })
    {
        language = std::make_unique<LanguageTexts>(&sheet);
        language->ApplyLanguage(QStringLiteral("english.ini"));
    }

    // Typed into the number field: the look-up runs as for the operator.
    void typeNumber(const QString &number) { patient.edtNumber->setText(number); }

    void snapshotInto(int slot, const QString &fileName, QSize captureSize = {640, 480}, QSize picture = {640, 480})
    {
        pictureSlots.setSnapshot(slot, testPicture(picture.width(), picture.height(), slot * 40), fileName);
        pictureSlots.setCaptureSize(slot, captureSize);
    }

    // A complete sheet that passes every check.
    void fillSheet()
    {
        controls.cbTitle->setEditText(QStringLiteral("  Gastroscopy  "));
        controls.cbProposer->setEditText(QStringLiteral(" Dr. Proposer "));
        controls.edtDoctor->setText(QStringLiteral(" Dr. Who\t"));
        controls.mmSymp5->setPlainText(QStringLiteral("\n  Findings line one\nline two  \n"));
        diagnosis(1)->setEditText(QStringLiteral(" gastritis "));
        diagnosis(3)->setEditText(QStringLiteral("ulcer"));
        treatment(2)->setEditText(QStringLiteral("rest "));
    }

    QComboBox *diagnosis(int k) const { return controls.diagnosisLines[k - 1]; }
    QComboBox *treatment(int k) const { return controls.treatmentLines[k - 1]; }

    int count(const QString &table) const { return countOf(db, QStringLiteral("select count(*) from %1").arg(table)); }

    // Every examination record, lowest ID first.
    QList<QSqlRecord> records() const { return rowsOf(db, QStringLiteral("select * from t_contents order by ID")); }

    QStringList onDisk(const QString &section) const
    {
        IniFile fresh;
        fresh.setPath(home.file("system.ini"));
        return fresh.readSection(section);
    }

    std::unique_ptr<LanguageTexts> language;
    QStringList shownKeys;
};

#pragma once

#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "core/IniFile.h"
#include "core/ProgramFolder.h"
#include "exam/ExaminationSheet.h"
#include "exam/PhraseLibrary.h"
#include "exam/PictureSlots.h"
#include "imaging/ImageControl.h"
#include "records/Database.h"
#include "records/PatientLookup.h"
#include "records/PatientNumbering.h"
#include "records/RecordSet.h"
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

// The examination sheet as the window builds it: patient fields with their look-up, the four
// picture slots, the phrase lines, the report header, a fresh program folder with its
// database and system.ini, and the English message texts answered by scripted boxes.
class SheetFixture : public ::testing::Test {
protected:
    SheetFixture()
    {
        // A child process of the kill test works in its parent's program folder.
        const QString sharedHome = qEnvironmentVariable("EXAMSTATION_SHEET_HOME");
        if (sharedHome.isEmpty())
            home.installLanguageFiles();
        else
            ProgramFolder::set(sharedHome);
        sheet.resize(1200, 800);

        patient.edtNumber = new QLineEdit(&sheet);
        patient.edtName = new QLineEdit(&sheet);
        patient.cbSex = new QComboBox(&sheet);
        patient.cbSex->setEditable(true);
        patient.cbSex->addItems({QStringLiteral("男"), QStringLiteral("女")});
        patient.edtAge = new QLineEdit(&sheet);
        patient.edtTel = new QLineEdit(&sheet);
        patient.edtAddr = new QLineEdit(&sheet);
        patient.lstNumber = new QListView(&sheet);
        patient.plGrid = new QFrame(&sheet);
        patient.clientGrid = new QTableView(patient.plGrid);
        patient.btnNew = new QPushButton(&sheet);
        patient.btnDelCient = new QPushButton(&sheet);

        PictureSlotControls slotControls;
        for (int i = 0; i < 4; ++i) {
            slotControls.frames[i] = new QFrame(&sheet);
            slotControls.frames[i]->setGeometry(10 + i * 180, 10, 168, 128);
            slotControls.masks[i] = new QFrame(slotControls.frames[i]);
            slotControls.images[i] = new ImageControl(slotControls.masks[i]);
        }
        pictureSlots = std::make_unique<PictureSlots>(slotControls);
        pictureSlots->LayoutPictureSlots();

        PhraseControls phraseControls;
        controls.mmSymp5 = new QPlainTextEdit(&sheet);
        for (int i = 0; i < 4; ++i) {
            controls.diagnosisLines[i] = phraseControls.diagnosisLines[i] = new QComboBox(&sheet);
            controls.treatmentLines[i] = phraseControls.treatmentLines[i] = new QComboBox(&sheet);
            phraseControls.diagnosisButtons[i] = new QToolButton(&sheet);
            phraseControls.treatmentButtons[i] = new QToolButton(&sheet);
            patient.diagnosisLines[i] = controls.diagnosisLines[i];
            patient.treatmentLines[i] = controls.treatmentLines[i];
        }
        controls.ckbHaveTreat = phraseControls.ckbHaveTreat = new QCheckBox(&sheet);
        patient.mmSymp5 = controls.mmSymp5;
        controls.cbTitle = new QComboBox(&sheet);
        controls.cbTitle->setEditable(true);
        controls.cbProposer = new QComboBox(&sheet);
        controls.cbProposer->setEditable(true);
        controls.edtDoctor = new QLineEdit(&sheet);
        controls.btnGenReport = new QPushButton(QStringLiteral("生成报告"), &sheet);

        settings.setPath(ProgramFolder::file("system.ini"));
        db.open();
        phrases = std::make_unique<PhraseLibrary>(settings, phraseControls);

        PatientHooks hooks;
        hooks.LoadLastExamination = [this](const QString &number) { examSheet->LoadLastExamination(number); };
        hooks.clearSlotPictures = [this] {
            for (int slot = 1; slot <= 4; ++slot)
                pictureSlots->ClearSlotPicture(slot);
        };
        hooks.resetSlotSizes = [this] { pictureSlots->ResetSlotSizes(); };
        lookup = std::make_unique<PatientLookup>(db, patient, hooks);
        numbering = std::make_unique<PatientNumbering>(db, *lookup);

        language = std::make_unique<LanguageTexts>(&sheet);
        language->ApplyLanguage(QStringLiteral("english.ini"));
        const ExaminationSheet::MessageShower show = ExaminationSheet::messagesOf(*language);
        examSheet = std::make_unique<ExaminationSheet>(
            controls, settings, db, ADOQuery1, *pictureSlots, *phrases, *lookup, *numbering,
            [this, show](const QString &key) {
                shownKeys.append(key);
                show(key);
            },
            ProgramFolder::file("images/"));
        QDir().mkpath(ProgramFolder::file("images"));

        phrases->LoadPhraseChoices(PhraseLibrary::Group::Diagnosis);
        phrases->LoadPhraseChoices(PhraseLibrary::Group::Treatment);
        controls.ckbHaveTreat->setChecked(true);
        sheet.show();
    }

    // The patient fields as the operator left them, without running the look-ups.
    void enterPatient(const QString &number, const QString &name, const QString &sex = QStringLiteral("女"),
                      const QString &age = QStringLiteral("42"), const QString &tel = QStringLiteral("555 0101"),
                      const QString &address = QStringLiteral("1 Main St"))
    {
        PatientHandlersDetached quiet(*lookup);
        patient.edtNumber->setText(number);
        patient.edtName->setText(name);
        patient.cbSex->setEditText(sex);
        patient.edtAge->setText(age);
        patient.edtTel->setText(tel);
        patient.edtAddr->setText(address);
    }

    // Typed into the number field: the look-up runs as for the operator.
    void typeNumber(const QString &number) { patient.edtNumber->setText(number); }

    static QImage testPicture(int width, int height, int seed)
    {
        QImage picture(width, height, QImage::Format_BGR888);
        for (int y = 0; y < height; ++y) {
            uchar *row = picture.scanLine(y);
            for (int x = 0; x < width; ++x) {
                row[3 * x] = uchar(x + seed);
                row[3 * x + 1] = uchar(y * 2 + seed);
                row[3 * x + 2] = uchar((x ^ y) + seed * 3);
            }
        }
        return picture;
    }

    void snapshotInto(int slot, const QString &fileName, QSize captureSize = {640, 480}, QSize picture = {640, 480})
    {
        pictureSlots->setSnapshot(slot, testPicture(picture.width(), picture.height(), slot * 40), fileName);
        pictureSlots->setCaptureSize(slot, captureSize);
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

    int count(const QString &table) const
    {
        QSqlQuery query = db.run(QStringLiteral("select count(*) from %1").arg(table), {});
        return query.next() ? query.value(0).toInt() : -1;
    }

    // Every examination record, lowest ID first.
    QList<QSqlRecord> records() const
    {
        QSqlQuery query = db.run(QStringLiteral("select * from t_contents order by ID"), {});
        QList<QSqlRecord> rows;
        while (query.next())
            rows.append(query.record());
        return rows;
    }

    QStringList onDisk(const QString &section) const
    {
        IniFile fresh;
        fresh.setPath(home.file("system.ini"));
        return fresh.readSection(section);
    }

    TestHome home;
    ScriptedDialogs dialogs;
    QWidget sheet;
    PatientControls patient;
    SheetControls controls;
    IniFile settings;
    Database db;
    RecordSet ADOQuery1;
    std::unique_ptr<PictureSlots> pictureSlots;
    std::unique_ptr<PhraseLibrary> phrases;
    std::unique_ptr<PatientLookup> lookup;
    std::unique_ptr<PatientNumbering> numbering;
    std::unique_ptr<LanguageTexts> language;
    std::unique_ptr<ExaminationSheet> examSheet;
    QStringList shownKeys;
};

#include "SheetRig.h"

#include "core/ProgramFolder.h"
#include "imaging/ImageControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

SheetWidgets::SheetWidgets(const DatabaseParameters &database)
{
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

    for (int i = 0; i < 4; ++i) {
        slotControls.frames[i] = new QFrame(&sheet);
        slotControls.frames[i]->setGeometry(10 + i * 180, 10, 168, 128);
        slotControls.masks[i] = new QFrame(slotControls.frames[i]);
        slotControls.images[i] = new ImageControl(slotControls.masks[i]);
    }

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

    settings.setPath(ProgramFolder::file(QStringLiteral("system.ini")));
    db.open(database);
    QDir().mkpath(ProgramFolder::file(QStringLiteral("images")));
}

SheetRig::SheetRig(const DatabaseParameters &database, ExaminationSheet::MessageShower show)
    : SheetWidgets(database)
    , pictureSlots(slotControls)
    , phrases(settings, phraseControls)
    , lookup(db, patient, patientHooks())
    , numbering(db, lookup)
    , examSheet(controls, settings, db, ADOQuery1, pictureSlots, phrases, lookup, numbering, std::move(show),
                ProgramFolder::file(QStringLiteral("images/")))
{
    pictureSlots.LayoutPictureSlots();
    phrases.LoadPhraseChoices(PhraseLibrary::Group::Diagnosis);
    phrases.LoadPhraseChoices(PhraseLibrary::Group::Treatment);
    controls.ckbHaveTreat->setChecked(true);
    sheet.show();
}

PatientHooks SheetRig::patientHooks()
{
    PatientHooks hooks;
    hooks.LoadLastExamination = [this](const QString &number) { examSheet.LoadLastExamination(number); };
    hooks.clearSlotPictures = [this] {
        for (int slot = 1; slot <= 4; ++slot)
            pictureSlots.ClearSlotPicture(slot);
    };
    hooks.resetSlotSizes = [this] { pictureSlots.ResetSlotSizes(); };
    return hooks;
}

void SheetRig::enterPatient(const QString &number, const QString &name, const QString &sex, const QString &age,
                            const QString &tel, const QString &address)
{
    PatientHandlersDetached quiet(lookup);
    patient.edtNumber->setText(number);
    patient.edtName->setText(name);
    patient.cbSex->setEditText(sex);
    patient.edtAge->setText(age);
    patient.edtTel->setText(tel);
    patient.edtAddr->setText(address);
}

QImage SheetRig::testPicture(int width, int height, int seed)
{
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = uchar((x / 3 + y / 5 + seed) & 0xFF);
            row[3 * x + 1] = uchar((y / 2 + seed * 7 + ((x * y) >> 9)) & 0xFF);
            row[3 * x + 2] = uchar((128 + (x ^ y) / 8 + seed) & 0xFF);
        }
    }
    return picture;
}

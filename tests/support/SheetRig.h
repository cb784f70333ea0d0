#pragma once

#include "core/IniFile.h"
#include "exam/ExaminationSheet.h"
#include "exam/PhraseLibrary.h"
#include "exam/PictureSlots.h"
#include "records/Database.h"
#include "records/PatientLookup.h"
#include "records/PatientNumbering.h"
#include "records/RecordSet.h"

#include <QImage>
#include <QWidget>

#include <memory>

// The examination sheet as the window builds it, on plain widgets: the patient fields with
// their look-up, the four picture slots, the phrase lines and the report header, the settings
// store and the database of the program folder ProgramFolder names. The sheet's tests and the
// save benchmark build on it. Window thread only.
class SheetRig {
public:
    // database: opened here; show: how the sheet's messages are shown.
    SheetRig(const DatabaseParameters &database, ExaminationSheet::MessageShower show);

    // The patient fields as the operator left them, without running the look-ups.
    void enterPatient(const QString &number, const QString &name, const QString &sex = QStringLiteral("女"),
                      const QString &age = QStringLiteral("42"), const QString &tel = QStringLiteral("555 0101"),
                      const QString &address = QStringLiteral("1 Main St"));

    // A picture with smooth shading and some texture, closer to a camera's than noise.
    static QImage testPicture(int width, int height, int seed);

    // The widgets' parent, shown once everything is built.
    QWidget sheet;
    PatientControls patient;
    SheetControls controls;
    // system.ini of the program folder.
    IniFile settings;
    Database db;
    RecordSet ADOQuery1; // the report's record set
    std::unique_ptr<PictureSlots> pictureSlots;
    std::unique_ptr<PhraseLibrary> phrases;
    // The number field's look-up and the drawn numbers, as the window wires them.
    std::unique_ptr<PatientLookup> lookup;
    std::unique_ptr<PatientNumbering> numbering;
    std::unique_ptr<ExaminationSheet> examSheet;
};

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

// The controls of the sheet on plain widgets, the settings store (system.ini) and the opened
// database of the program folder ProgramFolder names: made before the subsystems working on them.
struct SheetWidgets {
    explicit SheetWidgets(const DatabaseParameters &database);

    QWidget sheet; // the widgets' parent, shown once the rig is built
    PatientControls patient;
    SheetControls controls;
    PictureSlotControls slotControls;
    PhraseControls phraseControls;
    IniFile settings;
    Database db;
};

// The examination sheet as the window builds it: the patient fields with their look-up, the
// four picture slots, the phrase lines and the report header on SheetWidgets. The sheet's tests
// and the save benchmark build on it. Window thread only.
class SheetRig : public SheetWidgets {
public:
    // database: opened first; show: how the sheet's messages are shown.
    SheetRig(const DatabaseParameters &database, ExaminationSheet::MessageShower show);

    // The patient fields as the operator left them, without running the look-ups.
    void enterPatient(const QString &number, const QString &name, const QString &sex = QStringLiteral("女"),
                      const QString &age = QStringLiteral("42"), const QString &tel = QStringLiteral("555 0101"),
                      const QString &address = QStringLiteral("1 Main St"));

    // A picture with smooth shading and some texture, closer to a camera's than noise.
    static QImage testPicture(int width, int height, int seed);

    // In the order the window makes them: each takes the ones above it.
    RecordSet ADOQuery1; // the report's record set
    PictureSlots pictureSlots;
    PhraseLibrary phrases;
    PatientLookup lookup;
    PatientNumbering numbering;
    ExaminationSheet examSheet;

private:
    // What the look-up does to the sheet and the slots, as the window wires it.
    PatientHooks patientHooks();
};

#include "app/WorkstationStart.h"

#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

bool claimProgramFolder(WorkstationLock &lock)
{
    if (lock.tryClaim())
        return true;
    // Read-only look-ups: the running workstation owns config.ini.
    const QString language =
        ReadProfileString(ProgramFolder::file(QStringLiteral("config.ini")), QStringLiteral("language"),
                          QStringLiteral("name"), QStringLiteral("english.ini"));
    QString text = ReadProfileString(ProgramFolder::file(QStringLiteral("lang/") + language), QStringLiteral("main"),
                                     QStringLiteral("Msg_already_running"), QString());
    if (text.isEmpty())
        text = QStringLiteral("ExamStation is already running on this folder.");
    Dialogs::show(Dialogs::Kind::Information, ErrorDisplay::caption(), text + u'\n' + ProgramFolder::path());
    return false;
}

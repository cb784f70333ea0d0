#include "app/WorkstationStart.h"

#include "core/Dialogs.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

bool claimProgramFolder(WorkstationLock &lock)
{
    const WorkstationLock::Claim claim = lock.tryClaim();
    if (claim == WorkstationLock::Claim::Claimed)
        return true;
    const bool running = claim == WorkstationLock::Claim::Running;
    // Read-only look-ups: a running workstation owns config.ini.
    const std::unique_ptr<ProfileFile> language = OpenLanguageFile(
        ReadProfileString(ProgramFolder::file(QStringLiteral("config.ini")), QStringLiteral("language"),
                          QStringLiteral("name"), QStringLiteral("english.ini")));
    const QString key = running ? QStringLiteral("Msg_already_running") : QStringLiteral("Msg_lock_not_permitted");
    QString text = language ? language->read(QStringLiteral("main"), key, QString()) : QString();
    if (text.isEmpty())
        text = running ? QStringLiteral("ExamStation is already running on this folder.")
                       : QStringLiteral("ExamStation may not write or read its lock file (examstation.lock) in "
                                        "this folder: permission denied. Let this user write to the folder, or start "
                                        "with --home on a folder it may write.");
    Dialogs::show(running ? Dialogs::Kind::Information : Dialogs::Kind::Error, ErrorDisplay::caption(),
                  text + u'\n' + ProgramFolder::path());
    return false;
}

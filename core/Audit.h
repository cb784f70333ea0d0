#pragma once

#include <QString>

#include <functional>

// The events of the audit trail and the one call that records them, from wherever they happen
// (any thread). The trail itself (security/AuditTrail) installs the sink; with none installed an
// event is dropped, as in tests of a single subsystem.
namespace Audit {

enum class Event {
    ApplicationStart,
    ApplicationStop,
    Login,
    Logout,
    LoginFailed,
    Lock,
    Unlock,
    PatientOpened,
    PatientCreated,
    PatientDeleted,
    RecordDeleted,
    PatientUndeleted,
    ExaminationSaved,
    ReportPreviewed,
    ReportPrinted,
    ReportExported,
    InstancesSent,
    BackupTaken,
    AccountChanged,
    AuditRead,
};

// The outcome indicator of a DICOM audit message.
enum class Outcome { Success = 0, MinorFailure = 4, SeriousFailure = 8, MajorFailure = 12 };

// The coded form of an event in a DICOM audit message: EventID and EventTypeCode (both of the
// "DCM" coding scheme; the type code may be empty) and the EventActionCode.
struct Codes {
    const char *name; // this system's own name of the event, as the trail lists it
    const char *eventId;
    const char *eventIdMeaning;
    const char *typeCode;
    const char *typeMeaning;
    char action; // C, R, U, D or E
};
const Codes &codes(Event event);

using Sink = std::function<void(Event event, const QString &patient, Outcome outcome)>;
// Installs the sink (an empty one removes it); the previous one is no longer called afterwards.
void setSink(Sink sink);
void record(Event event, const QString &patient = QString(), Outcome outcome = Outcome::Success);

} // namespace Audit

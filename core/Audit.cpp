#include "core/Audit.h"

#include <mutex>

namespace Audit {
namespace {

std::mutex g_sinkMutex;
Sink g_sink;

} // namespace

const Codes &codes(Event event)
{
    // Event IDs and type codes of the DICOM audit messages; a lock and an unlock are the
    // operator's authentication ending and starting again, so they carry logout and login.
    static const Codes table[] = {
        {"application-start", "110100", "Application Activity", "110120", "Application Start", 'E'},
        {"application-stop", "110100", "Application Activity", "110121", "Application Stop", 'E'},
        {"login", "110114", "User Authentication", "110122", "Login", 'E'},
        {"logout", "110114", "User Authentication", "110123", "Logout", 'E'},
        {"login-failed", "110114", "User Authentication", "110122", "Login", 'E'},
        {"lock", "110114", "User Authentication", "110123", "Logout", 'E'},
        {"unlock", "110114", "User Authentication", "110122", "Login", 'E'},
        {"patient-opened", "110110", "Patient Record", "", "", 'R'},
        {"patient-created", "110110", "Patient Record", "", "", 'C'},
        {"patient-deleted", "110110", "Patient Record", "", "", 'D'},
        {"record-deleted", "110110", "Patient Record", "", "", 'D'},
        {"patient-undeleted", "110110", "Patient Record", "", "", 'C'},
        {"examination-saved", "110110", "Patient Record", "", "", 'C'},
        {"report-previewed", "110110", "Patient Record", "", "", 'R'},
        {"report-printed", "110106", "Export", "", "", 'R'},
        {"report-exported", "110106", "Export", "", "", 'R'},
        {"instances-sent", "110104", "DICOM Instances Transferred", "", "", 'R'},
        {"backup", "110106", "Export", "", "", 'R'},
        {"account-changed", "110113", "Security Alert", "110137", "User Security Attributes Changed", 'E'},
        {"audit-read", "110101", "Audit Log Used", "", "", 'R'},
    };
    static_assert(std::size(table) == static_cast<size_t>(Event::AuditRead) + 1);
    return table[static_cast<int>(event)];
}

void setSink(Sink sink)
{
    const std::lock_guard lock(g_sinkMutex);
    g_sink = std::move(sink);
}

void record(Event event, const QString &patient, Outcome outcome)
{
    const std::lock_guard lock(g_sinkMutex);
    if (g_sink)
        g_sink(event, patient, outcome);
}

} // namespace Audit

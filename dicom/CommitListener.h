#pragma once

#include "dicom/DicomAssociation.h"
#include "dicom/StorageCommitment.h"

#include <functional>
#include <memory>
#include <thread>

class CommitScp;

// This station's own DICOM listener (`[dicom] listen_port`), for the PACS that answers a
// storage commitment request on a new association: it accepts associations called with this
// station's AE title from the one configured caller (the PACS's AE title) only, answers C-ECHO
// and storage commitment N-EVENT-REPORT, and refuses every other service. Over TLS when the
// settings say so. Runs on a thread of its own; started and stopped on the owner's thread, and
// the stop returns within about a second, aborting an association under way.
class CommitListener {
public:
    // onReport runs on the listener's thread and says whether the report was kept (the PACS is
    // answered success, or a processing failure so that it may send it again).
    CommitListener(const DicomPeer &own, std::function<bool(const CommitReport &)> onReport);
    ~CommitListener();
    CommitListener(const CommitListener &) = delete;
    CommitListener &operator=(const CommitListener &) = delete;

    // Opens the port and starts listening; throws DicomError when the port cannot be opened.
    void start();
    void stop();

private:
    DicomPeer m_own;
    std::function<bool(const CommitReport &)> m_onReport;
    DicomCancel m_cancel; // stop(): shuts down the association under way
    std::unique_ptr<DcmTransportLayer> m_transport; // outlives the SCP that uses it
    std::unique_ptr<CommitScp> m_scp; // listener thread only, once started
    std::thread m_thread;
};

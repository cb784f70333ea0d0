#pragma once

#include "dicom/DicomError.h"
#include "dicom/DicomPeer.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class DcmDataset;
class DcmSCU;
class OFCondition;
class DcmTransportLayer;

// Lets another thread end a task's association at once (the window closing, Cancel). cancel()
// marks the task cancelled and shuts down the socket of the association under way, so that the
// thread waiting in DCMTK wakes with a network error; that thread alone then aborts and frees
// the association. DCMTK's association objects are not safe across threads, a socket shutdown
// is, so nothing else of DCMTK is touched from the cancelling thread. The TCP connect before
// that is polled (DicomAssociation::open). Any thread.
class DicomCancel {
public:
    void cancel();
    bool cancelled() const { return m_cancelled.load(); }
    // For the next task: not cancelled any more.
    void reset() { m_cancelled = false; }

    // The connection of the association under way (DicomAssociation's transport only).
    void attach(int socket);
    void detach();

private:
    std::mutex m_mutex;
    int m_socket = -1; // under m_mutex; -1 once DCMTK closes it, so a reused number is never shut
    std::atomic<bool> m_cancelled{false};
};

// One abstract syntax proposed with its transfer syntaxes (DCMTK's UID strings).
struct PresentationContext {
    const char *abstractSyntax = nullptr;
    QList<const char *> transferSyntaxes;
};

// One association with a DICOM partner: the partner's parameters and timeouts, the presentation
// contexts proposed, negotiation, release (also by the destructor) and abort, and the failure
// texts naming the partner. The services (C-STORE, C-FIND) are asked of scu(). Opened and used
// on one thread; only its DicomCancel is touched from another.
class DicomAssociation {
public:
    // role: how the partner is named in messages ("PACS", "worklist").
    DicomAssociation(const DicomPeer &peer, const QString &role, const QList<PresentationContext> &contexts,
                     DicomCancel *cancel = nullptr);
    ~DicomAssociation();
    DicomAssociation(const DicomAssociation &) = delete;
    DicomAssociation &operator=(const DicomAssociation &) = delete;

    // Connects and negotiates; throws DicomError when the partner cannot be reached in time,
    // rejects the association or the task was cancelled. With a DicomCancel the TCP connection
    // is tried once by this class first, so that a cancel also ends a connect under way.
    void open();
    bool isConnected() const;
    // The accepted presentation context for this SOP class; 0 when the partner accepted none.
    quint8 contextFor(const char *sopClass) const;
    DcmSCU &scu() { return *m_scu; }

    // One N-CREATE (create) or N-SET of a managed SOP instance with its attributes (procedure
    // steps); the partner's status. Throws DicomError when no context was accepted for the class
    // or the exchange fails.
    quint16 sendNormalized(bool create, const char *sopClass, const QString &sopInstance, DcmDataset &attributes);

    // Waits up to `seconds` for an N-EVENT-REPORT the partner sends on this association, hands
    // it to `handle` (its event type and data set, which may be null), and answers it with the
    // status `handle` returns. False when none came in time.
    bool awaitEventReport(int seconds, const std::function<quint16(quint16 eventType, DcmDataset *attributes)> &handle);

    // Ends the association the orderly way; abort() without waiting for the partner.
    void release();
    void abort();

    // "ORTHANC at 127.0.0.1:4242"
    QString partner() const;
    // A failed step's reason: DCMTK's text, or that the task was cancelled.
    QString reason(const OFCondition &condition) const;

    // Sets what DCMTK reads from the environment once, before any thread starts (main()): Debian's
    // DCMTK leaves Nagle's algorithm on unless TCP_NODELAY says otherwise, which holds every
    // C-STORE about 40 ms for the peer's delayed acknowledgement. Setting the environment while
    // other threads may read it is undefined, so no association sets it. SIGPIPE is ignored, so
    // that writing to a cancelled association's socket fails instead of ending the program.
    static void prepareProcess();

    // The transport of an association's connection (or, acceptor, of a listener's): plain TCP or,
    // with peer.tls, TLS with the peer's files; the socket of each connection is known to `cancel`
    // while it is open. Throws DicomError naming a TLS file that cannot be used.
    static std::unique_ptr<DcmTransportLayer> transport(const DicomPeer &peer, DicomCancel *cancel,
                                                        bool acceptor = false);

private:
    void forgetSocket();

    DicomPeer m_peer;
    QString m_role;
    DicomCancel *m_cancel;
    std::unique_ptr<DcmTransportLayer> m_transport; // outlives the network that uses it; TLS or plain
    std::unique_ptr<DcmSCU> m_scu;
};

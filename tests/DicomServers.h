#pragma once

#include "dicom/DicomPeer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>

// Private DICOM servers for the tests, each in a folder of its own under the build folder,
// on free loopback ports, started and stopped by the test. start() says why when it cannot.

quint16 freeLoopbackPort();

// A CA, a certificate for the PACS (CN localhost) and one for the workstation (CN EXAMSTATION)
// signed by it, and a second CA that signed neither; PEM files made with openssl in `folder`.
struct TestCertificates {
    QString ca, pacsCertificate, pacsKey, stationCertificate, stationKey, otherCa;
    QString whyNot; // empty when made
};
TestCertificates makeTestCertificates(const QString &folder);
// A peer on TLS with the station's certificate, trusting `ca`.
DicomPeer overTls(DicomPeer peer, const TestCertificates &files, const QString &ca);

// Debian's Orthanc with a configuration of its own; its storage survives stop() and start().
class OrthancServer {
public:
    OrthancServer();
    ~OrthancServer();

    // Before start(): its DICOM port speaks TLS only, with the PACS certificate, and requires the
    // workstation's certificate to chain to the test CA.
    void useTls(const TestCertificates &files) { m_tls = files; }
    // Before start(): the station EXAMSTATION as a modality listening at `port` on loopback,
    // where the storage commitment answers go (on a new association, over TLS with useTls).
    void answerCommitmentsAt(quint16 port) { m_commitPort = port; }
    QString folder() const { return m_dir.path(); }

    // Starts and waits (bounded) until its REST API answers; false with whyNot() otherwise.
    bool start();
    void stop();
    QString whyNot() const { return m_whyNot; }

    quint16 dicomPort() const { return m_dicomPort; }
    QString aet() const { return QStringLiteral("ORTHANC"); }
    // This server as the workstation's PACS (station EXAMSTATION, short timeouts).
    DicomPeer peer() const;
    // SIGSTOP and SIGCONT: a hung server, whose connections the kernel still accepts.
    void freeze();
    void thaw();

    // GET on the REST API; a null value when it does not answer within ten seconds.
    QJsonValue get(const QString &path) const;
    QByteArray getRaw(const QString &path) const;
    // DELETE on the REST API (an instance the PACS lost); false when it did not succeed.
    bool remove(const QString &path) const;

    // dicom3tools' dciodvfy over every instance stored: its error lines, each after the
    // instance's SOP class, one a line; empty when every instance conforms to its IOD (warnings
    // allowed).
    QString iodErrors() const;

private:
    QTemporaryDir m_dir;
    quint16 m_dicomPort = 0;
    quint16 m_httpPort = 0;
    quint16 m_commitPort = 0;
    std::optional<TestCertificates> m_tls;
    std::unique_ptr<QProcess> m_process;
    QString m_whyNot;
};

// DCMTK's worklist server over worklist files written with dump2dcm.
class WorklistServer {
public:
    WorklistServer();
    ~WorklistServer();

    // Writes one worklist file for the AE title from a dump2dcm text (one attribute a line),
    // its values written in `encoding` (a QStringConverter name).
    bool addItem(const QString &aeTitle, const QString &dump, const char *encoding = "UTF-8");
    bool start();
    void stop();
    QString whyNot() const { return m_whyNot; }
    quint16 port() const { return m_port; }
    // This server as the workstation's worklist (station EXAMSTATION, short timeouts).
    DicomPeer peer(const QString &calledAe = QStringLiteral("WORKLIST")) const;
    void freeze();
    void thaw();

private:
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    int m_items = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_whyNot;
};

// The RIS's procedure step side (tests/peers/mpps-scp.js on Node.js's dcmjs-dimse, which the
// first start installs with `npm ci` into the build folder from tests/peers' lock file): accepts
// MPPS from the station EXAMSTATION and keeps each N-CREATE and N-SET it receives.
class MppsServer {
public:
    MppsServer();
    ~MppsServer();
    bool start();
    void stop();
    QString whyNot() const { return m_whyNot; }
    quint16 port() const { return m_port; }
    DicomPeer peer() const;
    // What it received, in order: {"command": "N-CREATE"|"N-SET", "uid": ..., "attributes": {...}}.
    QJsonArray received() const;

private:
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_whyNot;
};

// A name server that takes every query and never answers, as one that is away. A program run
// through command() has it as its only name server, in namespaces of its own (unshare, as root of
// a user namespace: its own network with loopback, its own /etc/resolv.conf), so nothing else on
// the machine is touched. The name servers' own wait is 2 x 30 s.
class UnansweringNameServer {
public:
    UnansweringNameServer();
    // False, with whyNot, where such namespaces cannot be made or python3 is missing.
    bool usable();
    QString whyNot() const { return m_whyNot; }
    // The command to put before the program and its arguments.
    QStringList command() const;

private:
    QTemporaryDir m_dir;
    QString m_whyNot;
};

// A loopback port whose listen queue is full: the kernel drops every further connection attempt,
// as for a host behind a pulled cable, so a connect to it waits for its timeout.
class UnansweringPort {
public:
    UnansweringPort();
    ~UnansweringPort();
    UnansweringPort(const UnansweringPort &) = delete;
    UnansweringPort &operator=(const UnansweringPort &) = delete;
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    int m_queued[2] = {-1, -1}; // the connections that fill the queue
    quint16 m_port = 0;
};

// Debian's rsyslogd (with rsyslog-openssl) as a hospital's audit repository: syslog over TLS
// on a free loopback port with a CA, a certificate for "localhost" and one for the workstation
// (which it asks for) it makes with openssl,
// each message's text written as one line of received.log; never the machine's own service.
// Its log survives stop() and start().
class SyslogServer {
public:
    SyslogServer();
    ~SyslogServer();

    bool start();
    void stop();
    QString whyNot() const { return m_whyNot; }
    quint16 port() const { return m_port; }
    QString caFile() const { return m_dir.path() + QStringLiteral("/ca.crt"); }
    // The workstation's certificate and key of that CA, which the server asks for.
    QString clientCertificate() const { return m_dir.path() + QStringLiteral("/client.crt"); }
    QString clientKey() const { return m_dir.path() + QStringLiteral("/client.key"); }
    // The messages received so far, one a line.
    QList<QByteArray> received() const;

private:
    bool makeCertificates();

    QTemporaryDir m_dir;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_process;
    QString m_whyNot;
};

#pragma once

#include <QString>

// Where a DICOM partner listens and how long each step of talking to it may take.
struct DicomPeer {
    QString host; // empty: this partner is not used
    quint16 port = 104;
    QString calledAe; // the partner's application entity title
    QString callingAe; // this station's
    int connectTimeoutSeconds = 10;
    int dimseTimeoutSeconds = 30; // each request and each association step
    // How the partner's texts are read when it declares no Specific Character Set: servers that
    // send Latin-1 without saying so are common; the default repertoire (ASCII) reads the same.
    QString assumedCharset = QStringLiteral("ISO_IR 100");
    // DICOM over TLS (1.2 or 1.3, BCP 195 profile, both sides authenticated): this station's
    // certificate and key, and the CA certificates the partner's must chain to (PEM files).
    bool tls = false;
    QString certificate;
    QString privateKey;
    QString caCertificates;

    bool enabled() const { return !host.isEmpty(); }
};

// The [dicom] section of config.ini: the PACS that receives examinations and the worklist that
// schedules patients (worklist_charset: its assumed character set). Missing keys leave both off.
// tls=1 with certificate, private_key and ca_certificates puts every partner (and the listener)
// on TLS. Window thread only
// (profile reads).
struct DicomSettings {
    DicomPeer pacs;
    DicomPeer worklist;
    DicomPeer mpps; // the RIS's procedure step side (mpps_host, mpps_port, mpps_ae)
    // commit=1: the PACS is asked to commit each examination's instances once all are stored.
    bool commit = false;
    // This station's own listener for the PACS's commitment answers (listen_port), seen as its
    // callers see it: host 127.0.0.1 (empty without listen_port), port, calledAe this station's
    // AE title, callingAe the one caller it accepts (the PACS's AE title), the TLS files.
    DicomPeer listener;

    static DicomSettings read();
};

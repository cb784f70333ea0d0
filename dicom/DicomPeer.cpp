#include "dicom/DicomPeer.h"

#include "core/inifunc.h"

namespace {

const QString kSection = QStringLiteral("dicom");
const QString kDefaultStationAe = QStringLiteral("EXAMSTATION");

QString value(const char *key)
{
    return ReadConfigString(kSection, QString::fromLatin1(key), QString()).trimmed();
}

DicomPeer peer(const char *host, const char *port, const char *ae, const QString &stationAe)
{
    DicomPeer peer;
    peer.host = value(host);
    bool numeric = false;
    const uint number = value(port).toUInt(&numeric);
    if (numeric && number > 0 && number <= 65535)
        peer.port = quint16(number);
    peer.calledAe = value(ae);
    if (peer.calledAe.isEmpty())
        peer.calledAe = QStringLiteral("ANY-SCP");
    peer.callingAe = stationAe;
    return peer;
}

} // namespace

DicomSettings DicomSettings::read()
{
    QString stationAe = value("station_ae");
    if (stationAe.isEmpty())
        stationAe = kDefaultStationAe;
    DicomSettings settings{.pacs = peer("pacs_host", "pacs_port", "pacs_ae", stationAe),
                           .worklist = peer("worklist_host", "worklist_port", "worklist_ae", stationAe),
                           .mpps = peer("mpps_host", "mpps_port", "mpps_ae", stationAe)};
    settings.commit = value("commit") == u"1";
    bool numeric = false;
    const uint listenPort = value("listen_port").toUInt(&numeric);
    if (numeric && listenPort > 0 && listenPort <= 65535) {
        settings.listener.host = QStringLiteral("127.0.0.1");
        settings.listener.port = quint16(listenPort);
    }
    settings.listener.calledAe = stationAe;
    settings.listener.callingAe = settings.pacs.calledAe;
    if (value("tls") == u"1") {
        for (DicomPeer *each : {&settings.pacs, &settings.worklist, &settings.mpps, &settings.listener}) {
            each->tls = true;
            each->certificate = value("certificate");
            each->privateKey = value("private_key");
            each->caCertificates = value("ca_certificates");
        }
    }
    const QString charset = value("worklist_charset");
    if (!charset.isEmpty())
        settings.worklist.assumedCharset = charset;
    return settings;
}

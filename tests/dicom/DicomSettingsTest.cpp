// The [dicom] section as the administrator writes it: the procedure step partner, the worklist's
// assumed character set and TLS for every partner.
#include "TestHome.h"
#include "core/inifunc.h"
#include "dicom/DicomPeer.h"

#include <gtest/gtest.h>

TEST(DicomSettingsTest, MppsCharsetCommitmentAndTlsKeysReachEveryPartner)
{
    TestHome home;
    home.write(QStringLiteral("config.ini"),
               "[dicom]\nstation_ae=ENDO1\npacs_host=pacs\nworklist_host=ris\n"
               "mpps_host=ris\nmpps_port=1040\nmpps_ae=RIS_MPPS\n");
    SetConfigFolder(home.path());
    DicomSettings plain = DicomSettings::read();
    EXPECT_EQ(plain.mpps.port, 1040);
    EXPECT_EQ(plain.mpps.calledAe, QStringLiteral("RIS_MPPS"));
    EXPECT_EQ(plain.mpps.callingAe, QStringLiteral("ENDO1"));
    EXPECT_EQ(plain.worklist.assumedCharset, QStringLiteral("ISO_IR 100"));
    EXPECT_FALSE(plain.pacs.tls);
    EXPECT_FALSE(plain.commit);
    EXPECT_FALSE(plain.listener.enabled());

    home.write(QStringLiteral("config.ini"),
               "[dicom]\npacs_host=pacs\npacs_ae=PACS1\nworklist_charset=GB18030\ntls=1\ncommit=1\nlisten_port=11112\n"
               "certificate=/etc/es/station.crt\nprivate_key=/etc/es/station.key\n"
               "ca_certificates=/etc/es/ca.crt\n");
    const DicomSettings secure = DicomSettings::read();
    EXPECT_EQ(secure.worklist.assumedCharset, QStringLiteral("GB18030"));
    EXPECT_TRUE(secure.commit);
    // The listener is called with this station's title by the PACS alone.
    EXPECT_EQ(secure.listener.port, 11112);
    EXPECT_EQ(secure.listener.calledAe, QStringLiteral("EXAMSTATION"));
    EXPECT_EQ(secure.listener.callingAe, QStringLiteral("PACS1"));
    for (const DicomPeer &peer : {secure.pacs, secure.worklist, secure.mpps, secure.listener}) {
        EXPECT_TRUE(peer.tls);
        EXPECT_EQ(peer.certificate, QStringLiteral("/etc/es/station.crt"));
        EXPECT_EQ(peer.privateKey, QStringLiteral("/etc/es/station.key"));
        EXPECT_EQ(peer.caCertificates, QStringLiteral("/etc/es/ca.crt"));
    }
}

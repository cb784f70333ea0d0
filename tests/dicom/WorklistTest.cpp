// Today's procedures for this station come from DCMTK's own worklist server (wlmscpfs) over
// worklist files written with dump2dcm.
#include "DicomServers.h"
#include "dicom/WorklistClient.h"

#include <gtest/gtest.h>

namespace {

QString worklistItem(const QString &station, const QDate &day, const QString &time, const QString &name,
                     const QString &id, const QString &accession,
                     const QString &charset = QStringLiteral("(0008,0005) CS [ISO_IR 192]\n"))
{
    return (charset
            + QStringLiteral("(0008,0050) SH [%6]\n"
                             "(0008,0090) PN [Chen^Li^^Dr.]\n"
                             "(0010,0021) LO [HOSP-A]\n"
                             "(0010,0010) PN [%4]\n"
                             "(0010,0020) LO [%5]\n"
                             "(0010,0030) DA [19800215]\n"
                             "(0010,0040) CS [F]\n"
                             "(0032,1060) LO [胃镜检查]\n"
                             "(0032,1064) SQ (Sequence with undefined length #=1)\n"
                             "(fffe,e000) na (Item with undefined length #=3)\n"
                             "(0008,0100) SH [GI-01]\n"
                             "(0008,0102) SH [99HOSP]\n"
                             "(0008,0104) LO [Gastroscopy]\n"
                             "(fffe,e00d) na (ItemDelimitationItem)\n"
                             "(fffe,e0dd) na (SequenceDelimitationItem)\n"
                             "(0040,0100) SQ (Sequence with undefined length #=1)\n"
                             "(fffe,e000) na (Item with undefined length #=7)\n"
                             "(0008,0060) CS [ES]\n"
                             "(0040,0001) AE [%1]\n"
                             "(0040,0002) DA [%2]\n"
                             "(0040,0003) TM [%3]\n"
                             "(0040,0007) LO [Upper GI]\n"
                             "(0040,0009) SH [SPS-%5]\n"
                             "(0040,0008) SQ (Sequence with undefined length #=1)\n"
                             "(fffe,e000) na (Item with undefined length #=3)\n"
                             "(0008,0100) SH [P-7]\n"
                             "(0008,0102) SH [99HOSP]\n"
                             "(0008,0104) LO [Biopsy protocol]\n"
                             "(fffe,e00d) na (ItemDelimitationItem)\n"
                             "(fffe,e0dd) na (SequenceDelimitationItem)\n"
                             "(fffe,e00d) na (ItemDelimitationItem)\n"
                             "(fffe,e0dd) na (SequenceDelimitationItem)\n"
                             "(0040,1001) SH [RP-%5]\n"
                             "(0020,000d) UI [2.25.314159]\n"))
        .arg(station, day.toString(QStringLiteral("yyyyMMdd")), time, name, id, accession);
}

class WorklistTest : public ::testing::Test {
protected:
    WorklistServer server;
};

TEST_F(WorklistTest, TodaysProceduresOfThisStationInTimeOrderWithUtf8Names)
{
    const QDate today = QDate::currentDate();
    const QString ae = QStringLiteral("WORKLIST");
    ASSERT_TRUE(server.addItem(ae, worklistItem("EXAMSTATION", today, "1015", "Lee^Ann", "W-2", "ACC2")))
        << server.whyNot().toStdString();
    ASSERT_TRUE(server.addItem(ae, worklistItem("EXAMSTATION", today, "0930", "王小明", "W-1", "ACC1")));
    ASSERT_TRUE(server.addItem(ae, worklistItem("EXAMSTATION", today.addDays(1), "0800", "Tomorrow", "W-3", "A3")));
    ASSERT_TRUE(server.addItem(ae, worklistItem("OTHERSTATION", today, "0800", "Elsewhere", "W-4", "A4")));
    if (!server.start())
        GTEST_SKIP() << server.whyNot().toStdString();

    const QList<WorklistItem> items = WorklistClient::query(server.peer(), today);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].time, QStringLiteral("09:30"));
    EXPECT_EQ(items[0].patientId, QStringLiteral("W-1"));
    EXPECT_EQ(items[0].patientName, QStringLiteral("王小明"));
    const WorklistOrder &order = items[0].order;
    EXPECT_EQ(order.accessionNumber, QStringLiteral("ACC1"));
    EXPECT_EQ(order.studyUid, QStringLiteral("2.25.314159"));
    EXPECT_EQ(order.requestedProcedureId, QStringLiteral("RP-W-1"));
    EXPECT_EQ(order.requestedProcedureDescription, QStringLiteral("胃镜检查"));
    EXPECT_EQ(order.requestedProcedureCodes,
              QList<DicomCode>({{.value = "GI-01", .scheme = "99HOSP", .meaning = "Gastroscopy"}}));
    EXPECT_EQ(order.scheduledStepId, QStringLiteral("SPS-W-1"));
    EXPECT_EQ(order.scheduledStepDescription, QStringLiteral("Upper GI"));
    EXPECT_EQ(order.protocolCodes,
              QList<DicomCode>({{.value = "P-7", .scheme = "99HOSP", .meaning = "Biopsy protocol"}}));
    EXPECT_EQ(order.referringPhysician, QStringLiteral("Chen^Li^^Dr."));
    EXPECT_EQ(order.patientName, QStringLiteral("王小明"));
    EXPECT_EQ(order.birthDate, QStringLiteral("19800215"));
    EXPECT_EQ(order.issuerOfPatientId, QStringLiteral("HOSP-A"));
    EXPECT_EQ(items[0].procedure, QStringLiteral("胃镜检查"));
    EXPECT_EQ(items[0].sex, QStringLiteral("F"));
    EXPECT_EQ(items[0].birthDate, QDate(1980, 2, 15));
    EXPECT_EQ(items[0].ageOn(QDate(2026, 2, 14)), QStringLiteral("45"));
    EXPECT_EQ(items[0].ageOn(QDate(2026, 2, 15)), QStringLiteral("46"));
    EXPECT_EQ(items[1].patientName, QStringLiteral("Lee Ann"));
}

// Latin-1 bytes from a server that declares no character set: read in the one assumed for it.
TEST_F(WorklistTest, AServerThatDeclaresNoCharacterSetIsReadInTheAssumedOne)
{
    const QDate today = QDate::currentDate();
    QString dump = worklistItem("EXAMSTATION", today, "0930", "M\u00fcller^J\u00fcrgen", "W-1", "A1", {});
    dump.replace(QStringLiteral("胃镜检查"), QStringLiteral("Gastroskopie"));
    ASSERT_TRUE(server.addItem(QStringLiteral("WORKLIST"), dump, "ISO-8859-1")) << server.whyNot().toStdString();
    if (!server.start())
        GTEST_SKIP() << server.whyNot().toStdString();
    const QList<WorklistItem> items = WorklistClient::query(server.peer(), today);
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].patientName, QStringLiteral("M\u00fcller J\u00fcrgen"));
    EXPECT_EQ(items[0].order.patientName, QStringLiteral("M\u00fcller^J\u00fcrgen"));

    DicomPeer unknown = server.peer();
    unknown.assumedCharset = QStringLiteral("NO SUCH SET");
    EXPECT_THROW(WorklistClient::query(unknown, today), DicomError);
}

TEST_F(WorklistTest, UnknownTitleOrNoServerIsAClearError)
{
    ASSERT_TRUE(server.addItem(QStringLiteral("WORKLIST"),
                               worklistItem("EXAMSTATION", QDate::currentDate(), "0930", "X", "W-1", "A1")))
        << server.whyNot().toStdString();
    if (!server.start())
        GTEST_SKIP() << server.whyNot().toStdString();
    try {
        WorklistClient::query(server.peer(QStringLiteral("NOSUCHLIST")), QDate::currentDate());
        FAIL() << "a query to an unknown worklist title was answered";
    } catch (const DicomError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("NOSUCHLIST"))) << error.what();
    }
    server.stop();
    EXPECT_THROW(WorklistClient::query(server.peer(), QDate::currentDate()), DicomError);
}

} // namespace

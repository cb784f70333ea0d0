// The worklist order kept with a record (t_dicom_orders), on the engine of this run: every text
// back as stored, and a database made before the table gets it when opened.
#include "records/OutboxStore.h"

#include "RecordsFixture.h"

namespace {

class OutboxStoreTest : public RecordsTest { };

TEST_F(OutboxStoreTest, AnOrderComesBackAsStoredAlsoInADatabaseMadeBeforeOrdersWereKept)
{
    db.execute(QStringLiteral("drop table t_dicom_orders"));
    db.close();
    db.open();
    const OutboxStore::Order order{.studyUid = QStringLiteral("2.25.1"),
                                   .accessionNumber = QStringLiteral("A'1; drop table t_contents"),
                                   .accessionIssuer = QStringLiteral("RIS"),
                                   .requestedProcedureId = QStringLiteral("RP-1"),
                                   .requestedProcedureDescription = QStringLiteral("胃镜检查"),
                                   .requestedProcedureCodes = QStringLiteral("GI-01\t99HOSP\tGastroscopy\nX\tY\tZ"),
                                   .scheduledStepId = QStringLiteral("SPS-1"),
                                   .scheduledStepDescription = QStringLiteral("Upper GI"),
                                   .protocolCodes = QString(),
                                   .referringPhysician = QStringLiteral("Chen^Li"),
                                   .patientName = QStringLiteral("Müller^Jürgen"),
                                   .birthDate = QStringLiteral("19800215"),
                                   .sex = QStringLiteral("M"),
                                   .issuerOfPatientId = QStringLiteral("HOSP-A")};
    OutboxStore::insertOrder(db, 7, order);
    const std::optional<OutboxStore::Order> read = OutboxStore::order(db, 7);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->accessionNumber, order.accessionNumber);
    EXPECT_EQ(read->requestedProcedureDescription, order.requestedProcedureDescription);
    EXPECT_EQ(read->requestedProcedureCodes, order.requestedProcedureCodes);
    EXPECT_EQ(read->patientName, order.patientName);
    EXPECT_EQ(read->issuerOfPatientId, order.issuerOfPatientId);
    EXPECT_EQ(read->protocolCodes, QString());
    EXPECT_FALSE(OutboxStore::order(db, 8).has_value());
}

} // namespace

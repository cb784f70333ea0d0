// Storage commitment as the SCU: the station's own listener answers the C-ECHO of the configured
// PACS calling this station's AE title and refuses any other caller, title or service; an answer
// on the request's own association is taken too.
#include "dicom/CommitListener.h"

#include "DicomServers.h"
#include "dicom/EchoClient.h"

#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

TEST(CommitListenerTest, AnswersOnlyThePacsEcho)
{
    const DicomPeer own{.host = QStringLiteral("127.0.0.1"),
                        .port = freeLoopbackPort(),
                        .calledAe = QStringLiteral("EXAMSTATION"),
                        .callingAe = QStringLiteral("ORTHANC")};
    CommitListener listener(own, [](const CommitReport &) { return true; });
    listener.start();
    const struct {
        const char *calling;
        const char *called;
        const char *sopClass;
        bool answered;
    } cases[] = {
        {"ORTHANC", "EXAMSTATION", UID_VerificationSOPClass, true},
        {"INTRUDER", "EXAMSTATION", UID_VerificationSOPClass, false},
        {"ORTHANC", "SOMEONE", UID_VerificationSOPClass, false},
        {"ORTHANC", "EXAMSTATION", UID_SecondaryCaptureImageStorage, false},
    };
    for (const auto &c : cases) {
        DicomPeer caller = own;
        caller.callingAe = QString::fromLatin1(c.calling);
        caller.calledAe = QString::fromLatin1(c.called);
        bool answered = false;
        try {
            if (std::strcmp(c.sopClass, UID_VerificationSOPClass) == 0) {
                EchoClient::echo(caller, QStringLiteral("listener"));
                answered = true;
            } else {
                DicomAssociation association(caller, QStringLiteral("listener"),
                                             {{c.sopClass, {UID_LittleEndianImplicitTransferSyntax}}});
                association.open();
                answered = association.contextFor(c.sopClass) != 0;
            }
        } catch (const DicomError &) {
        }
        EXPECT_EQ(answered, c.answered) << c.calling << " calling " << c.called << " for " << c.sopClass;
    }
}

// A PACS that answers on the request's own association (the dcmjs-dimse peer): the answer is
// taken before the association ends.
TEST(StorageCommitmentTest, AnAnswerOnTheRequestsOwnAssociationIsTaken)
{
    MppsServer pacs;
    if (!pacs.start())
        GTEST_SKIP() << pacs.whyNot().toStdString();
    std::optional<CommitReport> answer;
    StorageCommitment::ask(pacs.peer(), QStringLiteral("2.25.7"),
                           {{.sopClass = UID_SecondaryCaptureImageStorage, .sopUid = QStringLiteral("2.25.71")},
                            {.sopClass = UID_EncapsulatedPDFStorage, .sopUid = QStringLiteral("2.25.72")}},
                           [&answer](const CommitReport &report) {
                               answer = report;
                               return true;
                           });
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->transactionUid, QStringLiteral("2.25.7"));
    EXPECT_EQ(answer->committed, (QStringList{QStringLiteral("2.25.71"), QStringLiteral("2.25.72")}));
    EXPECT_TRUE(answer->failed.isEmpty());
}

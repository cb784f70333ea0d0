// The station's own listener: it answers the C-ECHO of the configured PACS calling this
// station's AE title, refuses any other caller, title or service, and stops at once.
#include "dicom/CommitListener.h"

#include "DicomServers.h"
#include "dicom/EchoClient.h"

#include <QElapsedTimer>

#include <dcmtk/dcmdata/dcuid.h>
#include <gtest/gtest.h>

TEST(CommitListenerTest, AnswersOnlyThePacsEchoAndStopsAtOnce)
{
    const DicomPeer own{.host = QStringLiteral("127.0.0.1"),
                        .port = freeLoopbackPort(),
                        .calledAe = QStringLiteral("EXAMSTATION"),
                        .callingAe = QStringLiteral("ORTHANC"),
                        .connectTimeoutSeconds = 5,
                        .dimseTimeoutSeconds = 10};
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
            if (c.sopClass == UID_VerificationSOPClass) {
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

    // An association left open by its caller does not hold the stop.
    DicomAssociation open(own, QStringLiteral("listener"),
                          {{UID_VerificationSOPClass, {UID_LittleEndianImplicitTransferSyntax}}});
    open.open();
    QElapsedTimer stopping;
    stopping.start();
    listener.stop();
    EXPECT_LT(stopping.elapsed(), 2000);
}

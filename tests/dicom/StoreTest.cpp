// Instances built from an examination's values reach a real Orthanc through the C-STORE client.
#include "DicomServers.h"
#include "dicom/StoreClient.h"
#include "dicom/StudyInstance.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>

#include <dcmtk/dcmdata/dcfilefo.h>
#include <gtest/gtest.h>

namespace {

QByteArray jpegPicture(int seed)
{
    QImage picture(320, 240, QImage::Format_RGB888);
    picture.fill(QColor(seed * 50 % 256, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPG", 90);
    return bytes;
}

StudyValues chineseStudy()
{
    return {.patientId = QStringLiteral("P-1024"),
            .patientName = QStringLiteral("张伟"),
            .sex = QStringLiteral("女"),
            .age = QStringLiteral("42"),
            .studyTime = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53)),
            .referringPhysician = QStringLiteral("李医生"),
            .performingPhysician = QStringLiteral("Dr. Wang"),
            .studyDescription = QStringLiteral("胃镜检查"),
            .accessionNumber = QStringLiteral("ACC77"),
            .studyUid = StudyInstance::newUid(),
            .studyId = QStringLiteral("17"),
            .order = {}};
}

// A patient taken from the worklist: the order's study, its procedure and step, its names.
StudyValues orderedStudy()
{
    StudyValues study = chineseStudy();
    study.order = {.studyUid = QStringLiteral("2.25.271828"),
                   .accessionNumber = QStringLiteral("ACC77"),
                   .accessionIssuer = QStringLiteral("RIS-A"),
                   .requestedProcedureId = QStringLiteral("RP-9"),
                   .requestedProcedureDescription = QStringLiteral("Gastroskopie"),
                   .requestedProcedureCodes = {{.value = "GI-01", .scheme = "99HOSP", .meaning = "Gastroscopy"}},
                   .scheduledStepId = QStringLiteral("SPS-9"),
                   .scheduledStepDescription = QStringLiteral("Upper GI"),
                   .protocolCodes = {{.value = "P-7", .scheme = "99HOSP", .meaning = "Biopsy protocol"}},
                   .referringPhysician = QStringLiteral("Chen^Li^^Dr."),
                   .patientName = QStringLiteral("Müller^Jürgen"),
                   .birthDate = QStringLiteral("19800215"),
                   .sex = QStringLiteral("M"),
                   .issuerOfPatientId = QStringLiteral("HOSP-A")};
    study.studyUid = study.order.studyUid;
    study.patientName = QStringLiteral("Müller Jürgen");
    return study;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!orthanc.start())
            GTEST_SKIP() << orthanc.whyNot().toStdString();
    }

    DicomPeer pacs() const { return orthanc.peer(); }

    OrthancServer orthanc;
};

TEST_F(StoreTest, PicturesAndReportArriveAsOneStudyWithUtf8Texts)
{
    const StudyValues study = chineseStudy();
    const QString imageSeries = StudyInstance::newUid();
    {
        StoreClient client(pacs());
        for (int n = 1; n <= 4; ++n) {
            auto image = StudyInstance::jpegImage(study, {imageSeries, StudyInstance::newUid(), 1, n}, jpegPicture(n));
            client.store(*image->getDataset());
        }
        auto report = StudyInstance::pdfDocument(study, {StudyInstance::newUid(), StudyInstance::newUid(), 2, 1},
                                                 QByteArray("%PDF-1.4\n% report\n%%EOF\n"));
        client.store(*report->getDataset());
    }

    const QJsonArray studies = orthanc.get(QStringLiteral("/studies")).toArray();
    ASSERT_EQ(studies.size(), 1);
    const QJsonObject found = orthanc.get(QStringLiteral("/studies/") + studies[0].toString()).toObject();
    const QJsonObject studyTags = found[QStringLiteral("MainDicomTags")].toObject();
    EXPECT_EQ(studyTags[QStringLiteral("StudyInstanceUID")].toString(), study.studyUid);
    EXPECT_EQ(studyTags[QStringLiteral("StudyDate")].toString(), QStringLiteral("20260314"));
    EXPECT_EQ(studyTags[QStringLiteral("StudyTime")].toString(), QStringLiteral("092653"));
    EXPECT_EQ(studyTags[QStringLiteral("StudyDescription")].toString(), QStringLiteral("胃镜检查"));
    EXPECT_EQ(studyTags[QStringLiteral("ReferringPhysicianName")].toString(), QStringLiteral("李医生^"));
    EXPECT_EQ(studyTags[QStringLiteral("AccessionNumber")].toString(), QStringLiteral("ACC77"));
    const QJsonObject patientTags = found[QStringLiteral("PatientMainDicomTags")].toObject();
    EXPECT_EQ(patientTags[QStringLiteral("PatientName")].toString(), QStringLiteral("张伟^"));
    EXPECT_EQ(patientTags[QStringLiteral("PatientID")].toString(), QStringLiteral("P-1024"));
    EXPECT_EQ(patientTags[QStringLiteral("PatientSex")].toString(), QStringLiteral("F"));

    const QJsonArray instances =
        orthanc.get(QStringLiteral("/studies/%1/instances").arg(studies[0].toString())).toArray();
    ASSERT_EQ(instances.size(), 5);
    int images = 0;
    int documents = 0;
    for (const QJsonValue &instance : instances) {
        const QString id = instance.toObject()[QStringLiteral("ID")].toString();
        const QJsonObject tags = orthanc.get(QStringLiteral("/instances/%1/simplified-tags").arg(id)).toObject();
        EXPECT_EQ(tags[QStringLiteral("SpecificCharacterSet")].toString(), QStringLiteral("ISO_IR 192"));
        EXPECT_EQ(tags[QStringLiteral("PatientAge")].toString(), QStringLiteral("042Y"));
        // The report's IOD has no performing physician.
        EXPECT_EQ(tags[QStringLiteral("PerformingPhysicianName")].toString(),
                  tags[QStringLiteral("Modality")].toString() == u"DOC" ? QString() : QStringLiteral("Dr. Wang^"));
        if (tags[QStringLiteral("Modality")].toString() == u"DOC") {
            ++documents;
            EXPECT_EQ(tags[QStringLiteral("MIMETypeOfEncapsulatedDocument")].toString(),
                      QStringLiteral("application/pdf"));
            // Orthanc hands the document back as it was stored.
            EXPECT_TRUE(orthanc.getRaw(QStringLiteral("/instances/%1/pdf").arg(id)).startsWith("%PDF-1.4"));
        } else {
            ++images;
            EXPECT_EQ(tags[QStringLiteral("Rows")].toString(), QStringLiteral("240"));
            EXPECT_EQ(tags[QStringLiteral("Columns")].toString(), QStringLiteral("320"));
            // The picture decodes as the JPEG it was: Orthanc renders it back.
            const QImage rendered =
                QImage::fromData(orthanc.getRaw(QStringLiteral("/instances/%1/preview").arg(id)), "PNG");
            EXPECT_EQ(rendered.size(), QSize(320, 240));
        }
    }
    EXPECT_EQ(images, 4);
    EXPECT_EQ(documents, 1);
    EXPECT_EQ(orthanc.iodErrors().toStdString(), "");
}

TEST_F(StoreTest, AWorklistPatientsInstancesCarryTheOrder)
{
    const StudyValues study = orderedStudy();
    {
        StoreClient client(pacs());
        client.store(
            *StudyInstance::jpegImage(study, {StudyInstance::newUid(), StudyInstance::newUid(), 1, 1}, jpegPicture(1))
                 ->getDataset());
        client.store(*StudyInstance::pdfDocument(study, {StudyInstance::newUid(), StudyInstance::newUid(), 2, 1},
                                                 QByteArray("%PDF-1.4\n% report\n%%EOF\n"))
                          ->getDataset());
    }
    const QJsonArray instances = orthanc.get(QStringLiteral("/instances")).toArray();
    ASSERT_EQ(instances.size(), 2);
    for (const QJsonValue &id : instances) {
        const QJsonObject tags =
            orthanc.get(QStringLiteral("/instances/%1/simplified-tags").arg(id.toString())).toObject();
        EXPECT_EQ(tags[QStringLiteral("StudyInstanceUID")].toString(), QStringLiteral("2.25.271828"));
        EXPECT_EQ(tags[QStringLiteral("StudyID")].toString(), QStringLiteral("RP-9"));
        EXPECT_EQ(tags[QStringLiteral("PatientName")].toString(), QStringLiteral("Müller^Jürgen"));
        EXPECT_EQ(tags[QStringLiteral("PatientBirthDate")].toString(), QStringLiteral("19800215"));
        EXPECT_EQ(tags[QStringLiteral("IssuerOfPatientID")].toString(), QStringLiteral("HOSP-A"));
        EXPECT_EQ(tags[QStringLiteral("ReferringPhysicianName")].toString(), QStringLiteral("Chen^Li^^Dr."));
        const QJsonObject request = tags[QStringLiteral("RequestAttributesSequence")].toArray()[0].toObject();
        EXPECT_EQ(request[QStringLiteral("StudyInstanceUID")].toString(), QStringLiteral("2.25.271828"));
        EXPECT_EQ(request[QStringLiteral("AccessionNumber")].toString(), QStringLiteral("ACC77"));
        EXPECT_EQ(request[QStringLiteral("RequestedProcedureID")].toString(), QStringLiteral("RP-9"));
        EXPECT_EQ(request[QStringLiteral("RequestedProcedureDescription")].toString(), QStringLiteral("Gastroskopie"));
        EXPECT_EQ(request[QStringLiteral("ScheduledProcedureStepID")].toString(), QStringLiteral("SPS-9"));
        EXPECT_EQ(request[QStringLiteral("ScheduledProcedureStepDescription")].toString(), QStringLiteral("Upper GI"));
        EXPECT_EQ(request[QStringLiteral("RequestedProcedureCodeSequence")]
                      .toArray()[0]
                      .toObject()[QStringLiteral("CodeValue")],
                  QStringLiteral("GI-01"));
        EXPECT_EQ(request[QStringLiteral("ScheduledProtocolCodeSequence")]
                      .toArray()[0]
                      .toObject()[QStringLiteral("CodeMeaning")],
                  QStringLiteral("Biopsy protocol"));
    }
    EXPECT_EQ(orthanc.iodErrors().toStdString(), "");
}

// DICOM over TLS with both sides' certificates from one CA: the instance arrives; a PACS whose
// certificate chains to another CA is refused, and the workstation never falls back to the clear.
TEST(StoreOverTls, StoresWithTheConfiguredCaAndRefusesAnotherOrTheClear)
{
    OrthancServer orthanc;
    const TestCertificates files = makeTestCertificates(orthanc.folder());
    ASSERT_TRUE(files.whyNot.isEmpty()) << files.whyNot.toStdString();
    orthanc.useTls(files);
    if (!orthanc.start())
        GTEST_SKIP() << orthanc.whyNot().toStdString();
    const StudyValues study = chineseStudy();
    const auto image =
        StudyInstance::jpegImage(study, {StudyInstance::newUid(), StudyInstance::newUid(), 1, 1}, jpegPicture(1));
    StoreClient(overTls(orthanc.peer(), files, files.ca)).store(*image->getDataset());
    EXPECT_EQ(orthanc.get(QStringLiteral("/instances")).toArray().size(), 1);

    try {
        StoreClient client(overTls(orthanc.peer(), files, files.otherCa));
        ADD_FAILURE() << "a PACS whose certificate the configured CA did not sign was accepted";
    } catch (const DicomError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("ORTHANC at 127.0.0.1"))) << error.what();
    }
    EXPECT_THROW(StoreClient{orthanc.peer()}, DicomError);
    EXPECT_EQ(orthanc.get(QStringLiteral("/instances")).toArray().size(), 1);
}

// 64 bytes per component group: components are dropped from the end, the family name is cut
// last, never inside a character; a one-component name keeps an empty given name.
TEST(PersonName, FitsItsValueRepresentation)
{
    const QString longFamily = QString(60, u'A');
    const struct {
        QString given;
        QString expected;
    } cases[] = {
        {"Müller^Jürgen", "Müller^Jürgen"},
        {"张伟", "张伟^"},
        {"Lee Ann", "Lee Ann^"},
        {longFamily + "^Bartholomew^Maximilian", longFamily + "^"},
        {QString(70, u'B') + "^Carl", QString(63, u'B') + "^"},
        {QString(30, u'张'), QString(21, u'张') + "^"}, // 3 bytes each
        {"Wang^Wei=王^伟", "Wang^Wei=王^伟"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(StudyInstance::personName(c.given), c.expected) << c.given.toStdString();
}

TEST_F(StoreTest, RefusalsAndUnreachablePacsAreClearErrors)
{
    DicomPeer wrongTitle = pacs();
    wrongTitle.calledAe = QStringLiteral("NOT-ORTHANC");
    try {
        StoreClient client(wrongTitle);
        FAIL() << "an association with the wrong called title was accepted";
    } catch (const DicomError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("NOT-ORTHANC at 127.0.0.1"))) << error.what();
    }

    DicomPeer nobody = pacs();
    nobody.port = freeLoopbackPort();
    EXPECT_THROW(StoreClient{nobody}, DicomError);

    EXPECT_THROW(StudyInstance::jpegImage(chineseStudy(), {}, QByteArray("GIF89a")), AppError);
    EXPECT_EQ(orthanc.get(QStringLiteral("/instances")).toArray().size(), 0);
}

} // namespace

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
            .studyUid = StudyInstance::newUid()};
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
    EXPECT_EQ(studyTags[QStringLiteral("ReferringPhysicianName")].toString(), QStringLiteral("李医生"));
    EXPECT_EQ(studyTags[QStringLiteral("AccessionNumber")].toString(), QStringLiteral("ACC77"));
    const QJsonObject patientTags = found[QStringLiteral("PatientMainDicomTags")].toObject();
    EXPECT_EQ(patientTags[QStringLiteral("PatientName")].toString(), QStringLiteral("张伟"));
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
        EXPECT_EQ(tags[QStringLiteral("PerformingPhysicianName")].toString(), QStringLiteral("Dr. Wang"));
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

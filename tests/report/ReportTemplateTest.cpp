#include "report/ReportTemplate.h"

#include "ReportTestFiles.h"
#include "TestHome.h"
#include "core/AppError.h"
#include "core/SafeFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ShippedTemplate : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(report.load(shippedTemplate())) << shippedTemplate().toStdString(); }

    ReportTemplate report;
};

TEST_F(ShippedTemplate, IsOneA4PageWithTheDesignedMargins)
{
    EXPECT_EQ(report.pageSize(), QSizeF(210, 297));
    EXPECT_EQ(report.margins(), QMarginsF(20, 12, 20, 12));
    EXPECT_TRUE(report.prepare());
}

TEST_F(ShippedTemplate, HoldsEveryObjectTheReportFills)
{
    QStringList names = {QStringLiteral("mm_title"),     QStringLiteral("Line1"),         QStringLiteral("Line2"),
                         QStringLiteral("lbImageShown"), QStringLiteral("mm_sym5"),       QStringLiteral("lbSymptom"),
                         QStringLiteral("lb_treat"),     QStringLiteral("lb_doctor"),     QStringLiteral("mm_doctor"),
                         QStringLiteral("lbDate"),       QStringLiteral("mm_print_date"), QStringLiteral("lb_proposer"),
                         QStringLiteral("mm_proposer")};
    for (const char *field : {"name", "sex", "age", "ID", "addr", "tel"})
        names << QStringLiteral("mm_client_") + QLatin1String(field);
    for (const char *label : {"lbName", "lbSex", "lbAge", "lbNumber", "lbAddr", "lbTel"})
        names << QLatin1String(label);
    for (int n = 1; n <= 4; ++n)
        names << QStringLiteral("pic%1").arg(n) << QStringLiteral("mm_sym%1").arg(n)
              << QStringLiteral("mm_treat%1").arg(n);
    for (const QString &name : names)
        EXPECT_NE(report.find(name), nullptr) << name.toStdString();
    EXPECT_EQ(report.objects().size(), names.size());
}

TEST_F(ShippedTemplate, FindsObjectsIgnoringLetterCase)
{
    const ReportObject *doctor = report.find(QStringLiteral("lb_Doctor"));
    ASSERT_NE(doctor, nullptr);
    EXPECT_EQ(doctor->name, QStringLiteral("lb_doctor"));
    ASSERT_NE(report.find(QStringLiteral("mm_client_id")), nullptr);
    EXPECT_EQ(report.find(QStringLiteral("mm_client_id"))->name, QStringLiteral("mm_client_ID"));
    EXPECT_EQ(report.find(QStringLiteral("pic5")), nullptr);
}

TEST_F(ShippedTemplate, PlacesObjectsAsDesigned)
{
    const ReportObject *title = report.find(QStringLiteral("mm_title"));
    EXPECT_EQ(title->frame, QRectF(9, 1, 152, 12));
    EXPECT_EQ(title->fontSize, 26.0);
    EXPECT_EQ(title->alignment, Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(report.find(QStringLiteral("pic4"))->kind, ReportObject::Kind::Picture);
    EXPECT_EQ(report.find(QStringLiteral("pic4"))->frame, QRectF(89, 101, 76, 57));
    EXPECT_EQ(report.find(QStringLiteral("lb_doctor"))->alignment, Qt::AlignRight | Qt::AlignTop);
    EXPECT_DOUBLE_EQ(report.find(QStringLiteral("mm_sym5"))->lineGap, 3.7);
    EXPECT_EQ(report.find(QStringLiteral("Line2"))->kind, ReportObject::Kind::Line);
    EXPECT_DOUBLE_EQ(report.find(QStringLiteral("Line2"))->penWidth, 2.0);
    EXPECT_DOUBLE_EQ(report.find(QStringLiteral("mm_client_addr"))->frame.left(), 12.21);
}

class BrokenTemplate : public ::testing::Test {
protected:
    // Loads text after a good template, so a failure must also leave the report empty.
    QString failureOf(const QByteArray &content)
    {
        EXPECT_TRUE(report.load(shippedTemplate()));
        try {
            report.loadFromText(content, QStringLiteral("broken.fr3"));
        } catch (const AppError &error) {
            EXPECT_TRUE(report.isEmpty());
            EXPECT_FALSE(report.prepare());
            return error.message();
        }
        return QString();
    }

    ReportTemplate report;
};

TEST_F(BrokenTemplate, MissingFileLeavesTheReportEmptyWithoutError)
{
    TestHome home;
    ASSERT_TRUE(report.load(shippedTemplate()));
    EXPECT_FALSE(report.load(home.file(QStringLiteral("data/1.fr3"))));
    EXPECT_TRUE(report.isEmpty());
    EXPECT_FALSE(report.prepare());
}

// A pipe would hang the preview and a device or a huge file fill the memory: neither is read.
TEST_F(BrokenTemplate, PipeOrOversizedFileIsReportedWithoutBeingRead)
{
    TestHome home;
    const QString path = home.file(QStringLiteral("data/1.fr3"));
    QDir().mkpath(home.file(QStringLiteral("data")));
    ASSERT_EQ(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const auto loadFailure = [&] {
        try {
            report.load(path);
        } catch (const AppError &error) {
            return error.message();
        }
        return QString();
    };
    EXPECT_TRUE(loadFailure().startsWith(QStringLiteral("The report template %1 cannot be read: ").arg(path)));
    QFile::remove(path);
    home.write(QStringLiteral("data/1.fr3"), "<report>");
    ASSERT_EQ(truncate(QFile::encodeName(path).constData(), SafeFile::kMaxReadBytes + 1), 0);
    EXPECT_TRUE(loadFailure().startsWith(QStringLiteral("The report template %1 cannot be read: ").arg(path)));
    EXPECT_TRUE(report.isEmpty());
}

TEST_F(BrokenTemplate, TruncatedXmlNamesTheFileAndLine)
{
    const QString message = failureOf("<report>\n<page width=\"210\" height=\"297\">\n<text name=\"a\"");
    EXPECT_TRUE(message.contains(QStringLiteral("broken.fr3"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("line 3"))) << message.toStdString();
    EXPECT_TRUE(message.endsWith(u'.') && !message.endsWith(QStringLiteral(".."))) << message.toStdString();
}

TEST_F(BrokenTemplate, OtherXmlIsNoTemplate)
{
    EXPECT_TRUE(failureOf("<html><body/></html>").contains(QStringLiteral("no report template")));
    EXPECT_TRUE(failureOf("").contains(QStringLiteral("empty")));
    EXPECT_TRUE(failureOf("<report/>").contains(QStringLiteral("no page")));
}

TEST_F(BrokenTemplate, BadValuesAreNamed)
{
    const QByteArray page = "<report><page width=\"210\" height=\"297\">";
    EXPECT_TRUE(failureOf(page + "<text name=\"a\" left=\"x\" top=\"1\" width=\"1\" height=\"1\"/></page></report>")
                    .contains(QStringLiteral("\"left\" is not a number")));
    EXPECT_TRUE(failureOf(page + "<text name=\"a\" top=\"1\" width=\"1\" height=\"1\"/></page></report>")
                    .contains(QStringLiteral("\"left\" is missing")));
    EXPECT_TRUE(failureOf(page + "<circle name=\"a\" left=\"1\" top=\"1\" width=\"1\" height=\"1\"/></page></report>")
                    .contains(QStringLiteral("unknown object kind")));
    EXPECT_TRUE(failureOf(page + "<line left=\"1\" top=\"1\" width=\"1\"/></page></report>")
                    .contains(QStringLiteral("no name")));
    EXPECT_TRUE(failureOf("<report><page width=\"210\" height=\"297\" left=\"150\" right=\"100\"/></report>")
                    .contains(QStringLiteral("margins")));
}

TEST_F(BrokenTemplate, NamesDifferingOnlyInCaseAreAmbiguous)
{
    const QString message = failureOf("<report><page width=\"210\" height=\"297\">"
                                      "<line name=\"Line1\" left=\"1\" top=\"1\" width=\"1\"/>"
                                      "<line name=\"LINE1\" left=\"1\" top=\"2\" width=\"1\"/></page></report>");
    EXPECT_TRUE(message.contains(QStringLiteral("used twice"))) << message.toStdString();
}

} // namespace

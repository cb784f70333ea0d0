#include "imaging/JpegFile.h"

#include "TestHome.h"
#include "core/AppError.h"

#include <QColor>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// A smooth picture with a red left half and a blue right half, so both the byte order and
// the decoded size can be checked after a lossy round trip.
QImage testPicture(int width, int height)
{
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            picture.setPixelColor(x, y, x < width / 2 ? QColor(220, 30, 40) : QColor(20, 40, 210));
    }
    return picture;
}

// The marker codes of the file's segments up to the start of the scan.
QList<int> markers(const QByteArray &jpeg)
{
    QList<int> found;
    qsizetype at = 2; // past SOI
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xff) {
        const int marker = uchar(jpeg[at + 1]);
        found.append(marker);
        if (marker == 0xda)
            break;
        at += 2 + ((uchar(jpeg[at + 2]) << 8) | uchar(jpeg[at + 3]));
    }
    return found;
}

// The first value of the first quantisation table in the file.
int firstQuantisationValue(const QByteArray &jpeg)
{
    const qsizetype dqt = jpeg.indexOf(QByteArray("\xff\xdb", 2));
    return dqt < 0 ? -1 : uchar(jpeg[dqt + 5]);
}

bool near(QColor a, QColor b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

class JpegFileTest : public ::testing::Test {
protected:
    TestHome home;
};

TEST_F(JpegFileTest, WritesABaselineColourFileAtQualityNinety)
{
    JpegFile::write(testPicture(64, 48), home.file("a.jpg"));
    const QByteArray jpeg = home.read("a.jpg");
    ASSERT_TRUE(jpeg.startsWith(QByteArray("\xff\xd8", 2)));
    const QList<int> segments = markers(jpeg);
    EXPECT_TRUE(segments.contains(0xc0)) << "no baseline frame header";
    EXPECT_FALSE(segments.contains(0xc2)) << "progressive";
    EXPECT_FALSE(segments.contains(0xc1)) << "extended sequential";
    // Quality 90 scales the standard luminance table to 20 %: its DC entry 16 becomes 3.
    EXPECT_EQ(firstQuantisationValue(jpeg), 3);
    // Three components: a colour file.
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    EXPECT_EQ(uchar(jpeg[sof + 9]), 3);
}

TEST_F(JpegFileTest, RoundTripKeepsSizeColoursAndByteOrder)
{
    // Odd sizes give rows that are not a multiple of four bytes long.
    const QImage original = testPicture(37, 23);
    JpegFile::write(original, home.file("b.jpg"));
    const QImage decoded = JpegFile::read(home.file("b.jpg"));
    ASSERT_EQ(decoded.size(), QSize(37, 23));
    EXPECT_EQ(decoded.format(), QImage::Format_BGR888);
    EXPECT_TRUE(near(decoded.pixelColor(2, 2), QColor(220, 30, 40), 12))
        << decoded.pixelColor(2, 2).name().toStdString();
    EXPECT_TRUE(near(decoded.pixelColor(34, 20), QColor(20, 40, 210), 12))
        << decoded.pixelColor(34, 20).name().toStdString();
    // Blue first in memory.
    const uchar *pixel = decoded.constScanLine(20) + 3 * 34;
    EXPECT_GT(pixel[0], 180);
    EXPECT_LT(pixel[2], 60);
}

TEST_F(JpegFileTest, OtherFormatsAreEncodedAsColour)
{
    QImage argb(16, 16, QImage::Format_ARGB32);
    argb.fill(QColor(0, 200, 0));
    const QImage decoded = JpegFile::decode(JpegFile::encode(argb));
    EXPECT_TRUE(near(decoded.pixelColor(8, 8), QColor(0, 200, 0), 8));
}

TEST_F(JpegFileTest, ReplacesAnExistingFile)
{
    home.write("c.jpg", "old content");
    JpegFile::write(testPicture(8, 8), home.file("c.jpg"));
    EXPECT_EQ(JpegFile::read(home.file("c.jpg")).size(), QSize(8, 8));
}

TEST_F(JpegFileTest, DataThatIsNoJpegThrowsTheDecodersMessage)
{
    try {
        JpegFile::decode("this is not a picture");
        FAIL() << "no error";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().startsWith("Not a JPEG file")) << error.message().toStdString();
    }
}

TEST_F(JpegFileTest, BrokenJpegsThrow)
{
    const QByteArray jpeg = JpegFile::encode(testPicture(32, 32));
    EXPECT_THROW(JpegFile::decode(QByteArray()), AppError);
    EXPECT_THROW(JpegFile::decode(jpeg.left(40)), AppError);
    // A frame header claiming a huge picture is refused before any allocation.
    QByteArray huge = jpeg;
    const qsizetype sof = huge.indexOf(QByteArray("\xff\xc0", 2));
    huge[sof + 5] = char(0xff);
    huge[sof + 6] = char(0xd0);
    huge[sof + 7] = char(0xff);
    huge[sof + 8] = char(0xd0);
    EXPECT_THROW(JpegFile::decode(huge), AppError);
}

// A few hundred bytes of progressive JPEG claiming 65500 x 65500 pixels would make the decoder
// allocate about 13 GB for the picture's coefficients. It is decoded in a child process whose
// address space may grow by 1 GiB only (above what it already holds: AddressSanitizer reserves
// terabytes at start), so allocating for it fails the child instead of the machine.
TEST_F(JpegFileTest, ProgressiveBombIsRefusedWithinAMemoryLimit)
{
    QByteArray bomb = JpegFile::encode(testPicture(16, 16));
    const qsizetype sof = bomb.indexOf(QByteArray("\xff\xc0", 2));
    ASSERT_GE(sof, 0);
    bomb[sof + 1] = char(0xc2); // progressive
    for (int at : {5, 7}) { // height, width: 65500
        bomb[sof + at] = char(0xff);
        bomb[sof + at + 1] = char(0xdc);
    }
    ASSERT_LT(bomb.size(), 1024);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QFile status(QStringLiteral("/proc/self/status"));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        const qsizetype at = text.indexOf("VmSize:");
        const rlim_t held =
            rlim_t(text.mid(at + 7, text.indexOf('\n', at) - at - 7).trimmed().split(' ')[0].toULongLong()) * 1024;
        const rlimit limit{held + (rlim_t(1) << 30), held + (rlim_t(1) << 30)};
        if (at < 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(2);
        try {
            JpegFile::decode(bomb);
        } catch (const AppError &error) {
            _exit(error.message() == QLatin1String("Out of memory") ? 0 : 4);
        } catch (...) {
            _exit(5);
        }
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the decoder died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: no limit set, 3: decoded, 4: another error, 5: another exception";
}

TEST_F(JpegFileTest, MissingFileAndMissingFolderThrow)
{
    EXPECT_THROW(JpegFile::read(home.file("missing.jpg")), AppError);
    // A pipe in the pictures' folder is refused, not waited on.
    ASSERT_EQ(mkfifo(QFile::encodeName(home.file("pipe.jpg")).constData(), 0600), 0);
    EXPECT_THROW(JpegFile::read(home.file("pipe.jpg")), AppError);
    try {
        JpegFile::write(testPicture(8, 8), home.file("no/such/folder/d.jpg"));
        FAIL() << "no error";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().startsWith("Cannot create file \"")) << error.message().toStdString();
    }
    EXPECT_THROW(JpegFile::encode(QImage()), AppError);
}

} // namespace

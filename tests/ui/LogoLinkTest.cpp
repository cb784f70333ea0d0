#include "ui/LogoLink.h"

#include "CipherFixtures.h"
#include "ScriptedDialogs.h"
#include "TestHome.h"
#include "core/inifunc.h"
#include "ui/LogoImage.h"

#include <QBuffer>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace CipherFixtures;

namespace {

const QByteArray kLogoKey = QByteArray::fromHex("B6ABC4CFCEF7B1B1D6D0253637D1F4");

// A 20 x 10 logo on a magenta ground with a blue bar: the ground is the transparent colour.
QByteArray logoBitmap()
{
    QImage image(20, 10, QImage::Format_RGB888);
    image.fill(QColor(255, 0, 255));
    for (int x = 2; x < 18; ++x)
        image.setPixelColor(x, 4, QColor(0, 0, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

} // namespace

class LogoLinkTest : public ::testing::Test {
protected:
    LogoLinkTest()
    {
        imgLogo.resize(145, 31);
        QPixmap builtIn(145, 28);
        builtIn.fill(Qt::darkGreen);
        imgLogo.setPixmap(builtIn);
    }

    bool showsBuiltInLogo() const
    {
        return imgLogo.pixmap().size() == QSize(145, 28)
            && imgLogo.pixmap().toImage().pixelColor(3, 3) == QColor(Qt::darkGreen);
    }

    TestHome home;
    ScriptedDialogs dialogs;
    LogoImage imgLogo;
    QStringList opened;
    LogoLink logo{&imgLogo, [this](const QString &link) { opened << link; }};
};

TEST_F(LogoLinkTest, LogoFileMadeWithOpensslIsShownTransparently)
{
    home.write(QStringLiteral("data/logo.apl"), encryptStream(logoBitmap(), kLogoKey));
    logo.LoadLogo();
    const QPixmap shown = imgLogo.pixmap();
    ASSERT_EQ(shown.size(), QSize(20, 10));
    EXPECT_TRUE(imgLogo.hasScaledContents());
    const QImage mask = shown.mask().toImage();
    ASSERT_FALSE(mask.isNull());
    // Bit 1 of the mask is drawn; the ground (colour of the bottom-left pixel) is not.
    EXPECT_EQ(mask.pixelIndex(0, 0), mask.pixelIndex(19, 9));
    EXPECT_NE(mask.pixelIndex(5, 4), mask.pixelIndex(5, 5));
    EXPECT_EQ(shown.toImage().pixelColor(5, 4), QColor(0, 0, 200));
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

TEST_F(LogoLinkTest, MissingLogoFileKeepsTheBuiltInLogo)
{
    logo.LoadLogo();
    EXPECT_TRUE(showsBuiltInLogo());
}

TEST_F(LogoLinkTest, BrokenLogoFilesKeepTheBuiltInLogoSilently)
{
    const QByteArray good = encryptStream(logoBitmap(), kLogoKey);
    const QList<QByteArray> broken = {
        good.left(good.size() - 5), // block part not whole blocks
        encryptStream(logoBitmap(), kLogoKey, 1 << 20), // length beyond the data
        encryptStream("not a bitmap at all", kLogoKey), // no BMP inside
        encryptStream(logoBitmap(), "another key 1234"), // wrong key
        good.left(8),
    };
    for (const QByteArray &file : broken) {
        home.write(QStringLiteral("data/logo.apl"), file);
        logo.LoadLogo();
        EXPECT_TRUE(showsBuiltInLogo());
    }
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

TEST_F(LogoLinkTest, ClickOpensTheStoredLink)
{
    WriteConfigString(QStringLiteral("system"), QStringLiteral("url"), encipherLink("https://clinic.example/"));
    QSignalSpy clicks(&imgLogo, &LogoImage::clicked);
    QObject::connect(&imgLogo, &LogoImage::clicked, [this] { logo.imgLogoClick(); });
    QTest::mouseClick(&imgLogo, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://clinic.example/")});
}

TEST_F(LogoLinkTest, ClickWithoutAUsableLinkDoesNothing)
{
    logo.imgLogoClick(); // no config.ini at all
    WriteConfigString(QStringLiteral("system"), QStringLiteral("url"), QStringLiteral("ZZ"));
    logo.imgLogoClick();
    WriteConfigString(QStringLiteral("system"), QStringLiteral("url"), encipherLink(QByteArray(4, '\0')));
    logo.imgLogoClick(); // decrypts to an empty link
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(dialogs.boxes().isEmpty());
}

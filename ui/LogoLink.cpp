#include "ui/LogoLink.h"

#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "ui/func.h"

#include <QBitmap>
#include <QBuffer>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QUrl>

LogoLink::LogoLink(QLabel *imgLogo, LinkOpener opener)
    : m_imgLogo(imgLogo)
    , m_opener(std::move(opener))
{
    if (m_imgLogo)
        m_imgLogo->setScaledContents(true);
}

void LogoLink::LoadLogo()
{
    if (!m_imgLogo)
        return;
    try {
        QBuffer stream;
        stream.open(QIODevice::ReadWrite);
        if (!func::DecryptLogoFile(ProgramFolder::file(QStringLiteral("data/logo.apl")), &stream))
            return;
        QImage picture;
        if (!picture.loadFromData(stream.data(), "BMP") || picture.isNull())
            return;
        // Transparent drawing: every pixel of the bottom-left pixel's colour lets the strip show
        // through. Alpha plays no part in that rule, so it is dropped first.
        picture = picture.convertToFormat(QImage::Format_RGB32);
        QPixmap logo = QPixmap::fromImage(picture);
        const QRgb key = picture.pixel(0, picture.height() - 1);
        logo.setMask(QBitmap::fromImage(picture.createMaskFromColor(key, Qt::MaskInColor)));
        m_imgLogo->setPixmap(logo);
    } catch (...) {
        // The logo is decoration: a broken file keeps the built-in one, without a word.
    }
}

void LogoLink::imgLogoClick()
{
    try {
        const QString link =
            func::DecryptLink(ReadConfigString(QStringLiteral("system"), QStringLiteral("url"), QString()));
        if (!link.isEmpty() && m_opener)
            m_opener(link);
    } catch (...) {
        // An unreadable config.ini is no more than a missing link.
    }
}

void LogoLink::openWithDesktop(const QString &link)
{
    // Like the shell's "open": a web address, a file or a folder, whatever the desktop opens.
    QDesktopServices::openUrl(QUrl::fromUserInput(link));
}

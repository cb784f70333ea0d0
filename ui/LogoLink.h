#pragma once

#include <QString>

#include <functional>

class QLabel;

// The logo at the right end of the language strip and its link: shows the picture decrypted
// from data/logo.apl over the built-in logo, and opens the decrypted link of config.ini on a
// click. Nothing here ever reports a failure: a missing or broken logo or link leaves things
// as they were. Window thread only.
class LogoLink {
public:
    using LinkOpener = std::function<void(const QString &link)>;

    // imgLogo is drawn stretched (scaled contents); opener hands a link to the desktop.
    explicit LogoLink(QLabel *imgLogo, LinkOpener opener = openWithDesktop);

    // Start-up: replaces the built-in logo by the one of data/logo.apl, if that decrypts to a
    // bitmap. The colour of its bottom-left pixel is drawn transparent.
    void LoadLogo();

    // Click on the logo: opens the link of config.ini [system] url, if there is one.
    void imgLogoClick();

    // The desktop's default handler for a web address, a file or a folder.
    static void openWithDesktop(const QString &link);

private:
    QLabel *m_imgLogo;
    LinkOpener m_opener;
};

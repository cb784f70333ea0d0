#include "TestHome.h"

#include "PgServer.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QRawFont>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

TestHome::TestHome()
{
    if (!m_dir.isValid())
        throw std::runtime_error("cannot create a temporary program folder");
    ProgramFolder::set(m_dir.path());
    SetConfigFolder(path());
    // A schema of its own on the run's server stands in for the folder's database file.
    if (PgServer *server = PgServer::forTestHomes(); server && server->isRunning()) {
        static int homes = 0;
        WriteConfigString(QStringLiteral("database"), QStringLiteral("driver"), QStringLiteral("postgresql"));
        WriteConfigString(QStringLiteral("database"), QStringLiteral("connection"),
                          server->connection(QStringLiteral("examstation"), QStringLiteral("home_%1").arg(++homes)));
    }
}

TestHome::~TestHome() = default;

QString TestHome::path() const
{
    return m_dir.path() + u'/';
}

QString TestHome::file(const QString &relative) const
{
    return path() + relative;
}

namespace {

QDir languageSource()
{
    return QDir(qEnvironmentVariable("EXAMSTATION_LANG_DIR", QStringLiteral(EXAMSTATION_LANG_SOURCE)));
}

} // namespace

QStringList TestHome::shippedLanguages()
{
    return languageSource().entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Name);
}

QMap<QString, QString> TestHome::shippedLanguageTexts(const QString &name)
{
    QFile file(languageSource().filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + file.fileName().toStdString());
    QMap<QString, QString> texts;
    QString section;
    for (QString line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        line = line.remove(u'\r').remove(QChar(0xFEFF)).trimmed();
        if (line.startsWith(u'[') && line.endsWith(u']'))
            section = line.mid(1, line.size() - 2);
        else if (!line.startsWith(u';') && line.contains(u'='))
            texts.insert(section + u'/' + line.section(u'=', 0, 0).trimmed(), line.section(u'=', 1).trimmed());
    }
    return texts;
}

QString TestHome::uncoveredCharacters(const QString &text, const QStringList &families)
{
    QList<QRawFont> fonts;
    for (const QString &family : families) {
        const QRawFont font = QRawFont::fromFont(QFont(family));
        // A family that is not installed is replaced by another; that one does not count.
        if (font.isValid() && font.familyName() == family)
            fonts << font;
    }
    QString uncovered;
    for (const char32_t character : text.toUcs4()) {
        if (QChar::isSpace(character) || uncovered.contains(QString::fromUcs4(&character, 1)))
            continue;
        if (std::none_of(fonts.cbegin(), fonts.cend(),
                         [character](const QRawFont &font) { return font.supportsCharacter(character); }))
            uncovered += QString::fromUcs4(&character, 1);
    }
    return uncovered;
}

void TestHome::installLanguageFiles() const
{
    const QDir source = languageSource();
    const QStringList names = shippedLanguages();
    if (names.isEmpty())
        throw std::runtime_error("no language files in " + source.path().toStdString());
    QDir().mkpath(file(QStringLiteral("lang")));
    for (const QString &name : names)
        QFile::copy(source.filePath(name), file(QStringLiteral("lang/") + name));
}

void TestHome::installReportTemplate() const
{
    QFile source(QStringLiteral(EXAMSTATION_DATA_SOURCE "/1.fr3"));
    if (!source.open(QIODevice::ReadOnly))
        throw std::runtime_error("no report template in " EXAMSTATION_DATA_SOURCE);
    write(QStringLiteral("data/1.fr3"), source.readAll());
}

void TestHome::write(const QString &relative, const QByteArray &content) const
{
    const QString target = file(relative);
    QDir().mkpath(QFileInfo(target).path());
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(content) != content.size())
        throw std::runtime_error("cannot write test file " + target.toStdString());
}

QByteArray TestHome::read(const QString &relative) const
{
    QFile in(file(relative));
    if (!in.open(QIODevice::ReadOnly))
        return {};
    return in.readAll();
}

QByteArray reportAsNobody(const std::function<QByteArray()> &work)
{
    int channel[2];
    if (pipe(channel) != 0)
        return {};
    const pid_t child = fork();
    if (child < 0)
        return {};
    if (child == 0) {
        close(channel[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        const QByteArray report = work();
        const bool sent = write(channel[1], report.constData(), report.size()) == report.size();
        _exit(sent ? 0 : 3);
    }
    close(channel[1]);
    QByteArray report;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, n);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? report : QByteArray();
}

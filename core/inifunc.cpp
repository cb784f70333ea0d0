#include "core/inifunc.h"

#include "core/AppError.h"
#include "core/IniText.h"
#include "core/ProgramFolder.h"
#include "core/SafeFile.h"
#include "core/TrimmedText.h"

#include <QHash>
#include <QLoggingCategory>

#include <algorithm>
#include <cctype>
#include <limits>

// The resource of core.qrc, registered once (a static library's resources are not by themselves).
static QString builtInEnglish()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(core);
        return true;
    }();
    Q_UNUSED(registered);
    return QStringLiteral(":/builtin/english.ini");
}

namespace {

Q_LOGGING_CATEGORY(lcLanguage, "examstation.core.language")

// The profile functions hand values through a buffer of 2048 characters, config.ini reads are
// then cut to the 255 characters its callers were built for.
constexpr qsizetype kProfileValueLimit = 2047;
constexpr qsizetype kConfigValueLimit = 255;

QString &configFolder()
{
    static QString folder;
    return folder;
}

// Cut to at most `limit` UTF-16 units without leaving half of a surrogate pair behind.
QString cutTo(const QString &text, qsizetype limit)
{
    if (text.size() <= limit)
        return text;
    qsizetype size = limit;
    if (size > 0 && text.at(size - 1).isHighSurrogate())
        --size;
    return text.left(size);
}

// "[ name ]" gives the name between the brackets, trimmed; any other line gives no name.
bool sectionLine(const QString &line, QString *name)
{
    const QString text = Text::trimmed(line);
    if (!text.startsWith(u'['))
        return false;
    const qsizetype close = text.indexOf(u']');
    if (close < 0)
        return false;
    *name = Text::trimmed(text.mid(1, close - 1));
    return true;
}

bool keyLine(const QString &line, const QString &key)
{
    const QString text = Text::trimmed(line);
    if (text.startsWith(u';'))
        return false;
    const qsizetype equals = text.indexOf(u'=');
    return equals >= 0 && Text::trimmed(text.left(equals)).compare(key, Qt::CaseInsensitive) == 0;
}

// The value as the profile functions return it: blanks around it dropped, then one pair of
// matching quotes around the whole value removed.
QString profileValue(const QString &line)
{
    QString value = Text::trimmed(line.mid(line.indexOf(u'=') + 1));
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            value = value.mid(1, value.size() - 2);
    }
    return value;
}

// The lines of the file's first section of that name: [first, end).
struct SectionRange {
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionRange findSection(const QList<IniText::Line> &lines, const QString &section)
{
    SectionRange range;
    QString name;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!sectionLine(lines.at(i).text, &name))
            continue;
        if (range.header >= 0) {
            range.end = i;
            return range;
        }
        if (name.compare(section, Qt::CaseInsensitive) == 0)
            range.header = i;
    }
    if (range.header >= 0)
        range.end = lines.size();
    return range;
}

} // namespace

void SetConfigFolder(const QString &folder)
{
    QString path = folder;
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    configFolder() = path;
}

QString ConfigFilePath()
{
    const QString folder = configFolder().isEmpty() ? ProgramFolder::path() : configFolder();
    return folder + QStringLiteral("config.ini");
}

QString ReadConfigString(const QString &section, const QString &key, const QString &defaultValue)
{
    return cutTo(ReadProfileString(ConfigFilePath(), section, key, defaultValue), kConfigValueLimit);
}

void WriteConfigString(const QString &section, const QString &key, const QString &value)
{
    if (!WriteProfileString(ConfigFilePath(), section, key, value))
        throw AppError(QStringLiteral("Unable to write to %1").arg(ConfigFilePath()));
}

QString ReadProfileString(const QString &file, const QString &section, const QString &key, const QString &defaultValue)
{
    return ProfileFile(file).read(section, key, defaultValue);
}

struct ProfileFile::Data {
    QList<IniText::Line> lines;
    // Each section line's name and index, in file order.
    QList<std::pair<QString, qsizetype>> sections;
    // The values of one section by case-folded key, first line of a key winning; built at the
    // first read of that section.
    mutable QHash<qsizetype, QHash<QString, QString>> keys;
};

ProfileFile::ProfileFile(const QString &file)
    : d(std::make_unique<Data>())
{
    QByteArray bytes;
    QString reason;
    if (!SafeFile::readFile(file, &bytes, &reason) || bytes.isEmpty())
        return;
    d->lines = IniText::splitLines(IniText::decode(bytes).text);
    QString name;
    for (qsizetype i = 0; i < d->lines.size(); ++i) {
        if (sectionLine(d->lines.at(i).text, &name))
            d->sections.append({name, i});
    }
}

ProfileFile::~ProfileFile() = default;

QString ProfileFile::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QString wantedSection = Text::trimmed(section);
    for (qsizetype s = 0; s < d->sections.size(); ++s) {
        if (d->sections.at(s).first.compare(wantedSection, Qt::CaseInsensitive) != 0)
            continue;
        auto found = d->keys.find(s);
        if (found == d->keys.end()) {
            QHash<QString, QString> values;
            const qsizetype end = s + 1 < d->sections.size() ? d->sections.at(s + 1).second : d->lines.size();
            for (qsizetype i = d->sections.at(s).second + 1; i < end; ++i) {
                const QString text = Text::trimmed(d->lines.at(i).text);
                const qsizetype equals = text.indexOf(u'=');
                if (text.startsWith(u';') || equals < 0)
                    continue;
                const QString folded = Text::trimmed(text.left(equals)).toCaseFolded();
                if (!values.contains(folded))
                    values.insert(folded, profileValue(text));
            }
            found = d->keys.insert(s, values);
        }
        const auto value = found->constFind(Text::trimmed(key).toCaseFolded());
        return cutTo(value == found->constEnd() ? defaultValue : *value, kProfileValueLimit);
    }
    return cutTo(defaultValue, kProfileValueLimit);
}

bool ProfileFile::hasSection(const QString &section) const
{
    const QString wanted = Text::trimmed(section);
    return std::any_of(d->sections.cbegin(), d->sections.cend(),
                       [&wanted](const auto &known) { return known.first.compare(wanted, Qt::CaseInsensitive) == 0; });
}

std::unique_ptr<ProfileFile> OpenLanguageFile(const QString &name, QString *path)
{
    const QString english = QStringLiteral("english.ini");
    QStringList candidates;
    // Only a plain name stays inside lang/: a folder part or "." / ".." would lead out of it.
    if (!name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u"." && name != u"..")
        candidates << name;
    else
        qCWarning(lcLanguage).noquote() << "the language name" << name << "is not a file name in lang/";
    if (name != english)
        candidates << english;
    for (const QString &candidate : std::as_const(candidates)) {
        const QString file = ProgramFolder::file(QStringLiteral("lang/") + candidate);
        auto texts = std::make_unique<ProfileFile>(file);
        if (texts->hasSection(QStringLiteral("main"))) {
            if (path)
                *path = file;
            return texts;
        }
        qCWarning(lcLanguage).noquote() << "the language file" << file << "is missing or holds no texts";
    }
    // The English texts built into the program: the window never stands without a word.
    const QString builtIn = builtInEnglish();
    qCWarning(lcLanguage) << "no language file can be read: the built-in English texts are shown";
    if (path)
        *path = builtIn;
    return std::make_unique<ProfileFile>(builtIn);
}

std::unique_ptr<ProfileFile> OpenConfiguredLanguageFile(QString *path)
{
    return OpenLanguageFile(
        ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QStringLiteral("english.ini")), path);
}

bool WriteProfileString(const QString &file, const QString &section, const QString &key, const QString &value)
{
    QByteArray bytes;
    QString reason;
    // An existing file that cannot be read is left alone rather than replaced by one key.
    if (!SafeFile::readFile(file, &bytes, &reason))
        return false;

    const IniText::Decoded decoded = IniText::decode(bytes);
    QList<IniText::Line> lines = IniText::splitLines(decoded.text);
    QString lineEnd = QStringLiteral("\r\n");
    for (const IniText::Line &line : std::as_const(lines)) {
        if (!line.end.isEmpty()) {
            lineEnd = line.end;
            break;
        }
    }

    const QString sectionName = IniText::singleLine(Text::trimmed(section));
    const QString keyName = IniText::singleLine(Text::trimmed(key));
    const QString keyText = keyName + u'=' + IniText::singleLine(value);

    // A line without its terminator can only be the last; anything placed after it needs one.
    auto terminate = [&](qsizetype index) {
        if (index >= 0 && lines[index].end.isEmpty())
            lines[index].end = lineEnd;
    };

    const SectionRange range = findSection(lines, sectionName);
    if (range.header < 0) {
        terminate(lines.size() - 1);
        lines.append({u'[' + sectionName + u']', lineEnd});
        lines.append({keyText, lineEnd});
    } else {
        qsizetype found = -1;
        qsizetype lastFilled = range.header;
        for (qsizetype i = range.header + 1; i < range.end; ++i) {
            if (keyLine(lines.at(i).text, keyName)) {
                found = i;
                break;
            }
            if (!Text::trimmed(lines.at(i).text).isEmpty())
                lastFilled = i;
        }
        if (found >= 0) {
            lines[found].text = keyText;
        } else {
            // After the section's last line that holds anything, before the blank lines that
            // separate it from the next section.
            terminate(lastFilled);
            lines.insert(lastFilled + 1, {keyText, lineEnd});
        }
    }

    QString text;
    for (const IniText::Line &line : std::as_const(lines))
        text += line.text + line.end;
    return SafeFile::saveWhole(file, IniText::encode(text, decoded.encoding), &reason);
}

int toInteger(const QString &text)
{
    QString value = text;
    while (!value.isEmpty() && value.front() <= u' ')
        value.remove(0, 1);
    bool negative = false;
    if (value.startsWith(u'-') || value.startsWith(u'+')) {
        negative = value.front() == u'-';
        value.remove(0, 1);
    }
    int base = 10;
    if (value.startsWith(u'$')) {
        base = 16;
        value.remove(0, 1);
    } else if (value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        value.remove(0, 2);
    }
    bool ok = !value.isEmpty();
    for (QChar c : value)
        ok = ok
            && (base == 16 ? std::isxdigit(c.unicode() & 0x7f) && c.unicode() < 0x80
                           : c.isDigit() && c.unicode() < 0x80);
    const qint64 magnitude = ok ? value.toLongLong(&ok, base) : 0;
    const qint64 result = negative ? -magnitude : magnitude;
    if (!ok || result < std::numeric_limits<int>::min() || result > std::numeric_limits<int>::max())
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return int(result);
}

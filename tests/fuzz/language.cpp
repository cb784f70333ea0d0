// Language files through the profile reader that loads a file once: any file reads without
// harm, and every key of every section reads as the rules of profile files say, found here by
// a plain scan of the lines.
#include "FuzzFile.h"
#include "core/IniText.h"
#include "core/TrimmedText.h"
#include "core/inifunc.h"

namespace {

// "[name]" (anything may follow the bracket) gives the trimmed name.
bool sectionName(const QString &line, QString *name)
{
    const QString text = Text::trimmed(line);
    const qsizetype close = text.indexOf(u']');
    if (!text.startsWith(u'[') || close < 0)
        return false;
    *name = Text::trimmed(text.mid(1, close - 1));
    return true;
}

// The first section of that name, its first line of that key; the value trimmed, one pair of
// matching quotes removed, cut to 2047 characters without splitting a pair.
QString plainRead(const QList<IniText::Line> &lines, const QString &section, const QString &key)
{
    bool inside = false;
    for (const IniText::Line &raw : lines) {
        QString name;
        if (sectionName(raw.text, &name)) {
            if (inside)
                break;
            inside = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const QString text = Text::trimmed(raw.text);
        const qsizetype equals = text.indexOf(u'=');
        if (!inside || text.startsWith(u';') || equals < 0
            || Text::trimmed(text.left(equals)).compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QString value = Text::trimmed(text.mid(equals + 1));
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        if (value.size() > 2047)
            value.truncate(value.at(2046).isHighSurrogate() ? 2046 : 2047);
        return value;
    }
    return QStringLiteral("<default>");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzzFile(data, size, QStringLiteral("language.ini"));
    const ProfileFile file(path);
    const QList<IniText::Line> lines =
        IniText::splitLines(IniText::decode(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))).text);

    // The file's first section and key names, plus ones that it may not hold.
    QStringList sections{QStringLiteral("main")}, keys{QStringLiteral("frmMain.Caption")};
    for (const IniText::Line &raw : lines) {
        QString name;
        const QString text = Text::trimmed(raw.text);
        if (sectionName(raw.text, &name) && sections.size() < 8)
            sections.append(name);
        else if (text.contains(u'=') && keys.size() < 32)
            keys.append(Text::trimmed(text.left(text.indexOf(u'='))));
    }
    for (const QString &section : std::as_const(sections)) {
        for (const QString &key : std::as_const(keys)) {
            if (file.read(section, key, QStringLiteral("<default>")) != plainRead(lines, section, key))
                abort();
        }
    }
    return 0;
}

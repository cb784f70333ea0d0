// The settings store of system.ini: any file loads without harm, and a write to one key, read
// back by a fresh store from the file written, changes that key only: every other key and
// section reads as before, whatever encoding the file was in.
#include "FuzzFile.h"
#include "core/AppError.h"
#include "core/IniFile.h"
#include "core/IniText.h"
#include "core/TrimmedText.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// The section names of the file, as the store's loader finds them.
QStringList sectionNames(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QStringList names;
    for (const IniText::Line &raw : IniText::splitLines(IniText::decode(file.readAll()).text)) {
        const QString line = Text::trimmed(raw.text);
        if (line.startsWith(u'[') && line.endsWith(u']') && line.size() >= 2)
            names.append(Text::trimmed(line.mid(1, line.size() - 2)));
    }
    return names;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString alphanumeric(const std::string &text, const char *fallback)
{
    QString result;
    for (char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            result += QLatin1Char(c);
    }
    return result.isEmpty() ? QString::fromLatin1(fallback) : result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString section = alphanumeric(input.ConsumeRandomLengthString(12), "Symptom");
    const QString key = alphanumeric(input.ConsumeRandomLengthString(8), "1");
    const QString value = QString::fromUtf8(input.ConsumeRandomLengthString(64));
    const std::vector<uint8_t> content = input.ConsumeRemainingBytes<uint8_t>();
    const QString path = fuzzFile(content.data(), content.size(), QStringLiteral("system.ini"));

    IniFile before;
    before.setPath(path);
    const QStringList names = sectionNames(path);
    QList<QStringList> sections;
    for (const QString &name : names)
        sections.append(before.readSection(name));
    QStringList expected = before.readSection(section);
    try {
        before.writeString(section, key, value);
    } catch (const AppError &) {
        abort(); // a file in a private folder can always be written
    }

    const QString line = key + u'=' + Text::trimmed(IniText::singleLine(value));
    bool replaced = false;
    for (QString &existing : expected) {
        const qsizetype equals = existing.indexOf(u'=');
        if (equals >= 0 && sameName(existing.left(equals), key)) {
            existing = line;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        expected.append(line);

    IniFile after;
    after.setPath(path);
    bool sectionExisted = false;
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (sameName(names.at(i), section)) {
            sectionExisted = true;
            continue;
        }
        if (after.readSection(names.at(i)) != sections.at(i))
            abort(); // another section changed
    }
    if (after.readSection(section) != expected)
        abort(); // the key written does not read back, or its neighbours changed
    if (after.readString(section, key, QString()) != Text::trimmed(IniText::singleLine(value)))
        abort();
    QStringList namesAfter = sectionNames(path);
    if (!sectionExisted)
        namesAfter.removeLast();
    if (namesAfter != names) {
        // Duplicate sections of the written name merge into the first; every other name stays.
        namesAfter.removeIf([&](const QString &n) { return sameName(n, section); });
        QStringList others = names;
        others.removeIf([&](const QString &n) { return sameName(n, section); });
        if (namesAfter != others)
            abort();
    }
    return 0;
}

#include "core/IniFile.h"

#include "core/AppError.h"
#include "core/IniText.h"
#include "core/SafeFile.h"
#include "core/TrimmedText.h"

#include <QList>

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

struct Section {
    QString name;
    QStringList lines;
};

// Whether the text before the line's first "=" is the key; a line without "=" has no key.
bool lineHasKey(const QString &line, const QString &key)
{
    const qsizetype equals = line.indexOf(u'=');
    return equals >= 0 && QStringView(line).left(equals).compare(key, Qt::CaseInsensitive) == 0;
}

// The digit's value in the base, or -1 when it is none of its digits.
int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Strict integer text: an optional sign and digits only; anything else is "not an integer".
bool parseInteger(const QString &text, int *result)
{
    QStringView digits(text);
    int base = 10;
    if (digits.size() > 2 && digits.at(0) == u'0' && (digits.at(1) == u'x' || digits.at(1) == u'X')) {
        base = 16;
        digits = digits.mid(2);
    }
    bool negative = false;
    if (base == 10 && !digits.isEmpty() && (digits.at(0) == u'-' || digits.at(0) == u'+')) {
        negative = digits.at(0) == u'-';
        digits = digits.mid(1);
    }
    if (digits.isEmpty())
        return false;
    long long value = 0;
    const long long limit =
        negative ? -static_cast<long long>(std::numeric_limits<int>::min()) : std::numeric_limits<int>::max();
    for (QChar c : digits) {
        const int digit = digitValue(c, base);
        if (digit < 0)
            return false;
        value = value * base + digit;
        if (value > limit)
            return false;
    }
    *result = static_cast<int>(negative ? -value : value);
    return true;
}

// A decimal number with "." or "," as its separator (files written by hand or by systems set
// to a decimal comma hold the latter) and an optional exponent; blanks around it are allowed,
// words like "inf" or "nan" are not.
bool parseFloat(const QString &text, double *result)
{
    QString number = Text::trimmed(text);
    if (!number.contains(u'.'))
        number.replace(u',', u'.');
    qsizetype i = 0;
    const qsizetype size = number.size();
    auto digitsFrom = [&](qsizetype from) {
        qsizetype j = from;
        while (j < size && number.at(j).unicode() >= u'0' && number.at(j).unicode() <= u'9')
            ++j;
        return j;
    };
    if (i < size && (number.at(i) == u'+' || number.at(i) == u'-'))
        ++i;
    qsizetype afterInt = digitsFrom(i);
    bool anyDigit = afterInt > i;
    i = afterInt;
    if (i < size && number.at(i) == u'.') {
        const qsizetype afterFraction = digitsFrom(i + 1);
        anyDigit = anyDigit || afterFraction > i + 1;
        i = afterFraction;
    }
    if (!anyDigit)
        return false;
    if (i < size && (number.at(i) == u'e' || number.at(i) == u'E')) {
        qsizetype j = i + 1;
        if (j < size && (number.at(j) == u'+' || number.at(j) == u'-'))
            ++j;
        const qsizetype afterExponent = digitsFrom(j);
        if (afterExponent == j)
            return false;
        i = afterExponent;
    }
    if (i != size)
        return false;
    bool ok = false;
    const double value = number.toDouble(&ok); // QString::toDouble always uses the C locale
    if (!ok || !std::isfinite(value))
        return false;
    *result = value;
    return true;
}

} // namespace

struct IniFile::Data {
    QString path;
    bool loaded = false;
    // An existing file that could not be read must not be overwritten by a store that never saw
    // its contents; the reason is kept for the write that refuses.
    bool unreadable = false;
    QString unreadableReason;
    IniText::Encoding encoding = IniText::Encoding::Utf8;
    QList<Section> sections;

    void ensureLoaded();
    Section *find(const QString &name);
    void writeBack();
};

void IniFile::Data::ensureLoaded()
{
    if (loaded)
        return;
    loaded = true;
    sections.clear();
    unreadable = false;
    encoding = IniText::Encoding::Utf8;

    QByteArray bytes;
    if (!SafeFile::readFile(path, &bytes, &unreadableReason)) {
        unreadable = true;
        return;
    }
    const IniText::Decoded decoded = IniText::decode(bytes);
    encoding = decoded.encoding;

    Section *current = nullptr;
    for (const IniText::Line &raw : IniText::splitLines(decoded.text)) {
        const QString line = Text::trimmed(raw.text);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            sections.append({Text::trimmed(line.mid(1, line.size() - 2)), {}});
            current = &sections.last();
            continue;
        }
        if (!current)
            continue; // lines before the first section belong to none
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0)
            current->lines.append(Text::trimmed(line.left(equals)) + u'=' + Text::trimmed(line.mid(equals + 1)));
        else
            current->lines.append(line);
    }
}

Section *IniFile::Data::find(const QString &name)
{
    for (Section &section : sections) {
        if (section.name.compare(name, Qt::CaseInsensitive) == 0)
            return &section;
    }
    return nullptr;
}

void IniFile::Data::writeBack()
{
    QString reason;
    if (unreadable) {
        reason = unreadableReason;
    } else {
        QString text;
        for (const Section &section : std::as_const(sections)) {
            text += u'[' + section.name + QStringLiteral("]\r\n");
            for (const QString &line : section.lines)
                text += line + QStringLiteral("\r\n");
            text += QStringLiteral("\r\n");
        }
        if (SafeFile::saveWhole(path, IniText::encode(text, encoding), &reason))
            return;
    }
    throw AppError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
}

IniFile::IniFile()
    : d(std::make_unique<Data>())
{
}

IniFile::~IniFile() = default;

void IniFile::setPath(const QString &path)
{
    // Set once at start-up: temporary files of a write that a crash cut short go then.
    SafeFile::removeLeftovers(path);
    d->path = path;
    d->loaded = false;
    d->sections.clear();
}

QString IniFile::path() const
{
    return d->path;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue)
{
    d->ensureLoaded();
    if (const Section *found = d->find(section)) {
        for (const QString &line : found->lines) {
            if (lineHasKey(line, key))
                return line.mid(line.indexOf(u'=') + 1);
        }
    }
    return defaultValue;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue)
{
    int value = 0;
    return parseInteger(readString(section, key, QString()), &value) ? value : defaultValue;
}

double IniFile::readFloat(const QString &section, const QString &key, double defaultValue)
{
    double value = 0;
    return parseFloat(readString(section, key, QString()), &value) ? value : defaultValue;
}

bool IniFile::readBool(const QString &section, const QString &key, bool defaultValue)
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

QStringList IniFile::readSection(const QString &section)
{
    d->ensureLoaded();
    if (const Section *found = d->find(section))
        return found->lines;
    return {};
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    d->ensureLoaded();
    const QString name = IniText::singleLine(section);
    const QString keyName = IniText::singleLine(key);
    const QString line = keyName + u'=' + IniText::singleLine(value);

    Section *target = d->find(name);
    if (!target) {
        d->sections.append({name, {}});
        target = &d->sections.last();
    }
    bool replaced = false;
    for (QString &existing : target->lines) {
        if (lineHasKey(existing, keyName)) {
            existing = line;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        target->lines.append(line);
    d->writeBack();
}

void IniFile::writeFloat(const QString &section, const QString &key, double value)
{
    writeString(section, key, formatFloat(value));
}

void IniFile::eraseSection(const QString &section)
{
    d->ensureLoaded();
    // Every section of that name goes, so a duplicate further down cannot resurface.
    const qsizetype removed =
        d->sections.removeIf([&](const Section &s) { return s.name.compare(section, Qt::CaseInsensitive) == 0; });
    if (removed > 0)
        d->writeBack();
}

void IniFile::replaceSection(const QString &section, const QStringList &lines)
{
    d->ensureLoaded();
    const QString name = IniText::singleLine(section);
    QStringList cleaned;
    cleaned.reserve(lines.size());
    for (const QString &line : lines) {
        const QString single = Text::trimmed(IniText::singleLine(line));
        const qsizetype equals = single.indexOf(u'=');
        // Stored as a load would hold it, so the store reads the same before and after a reload.
        if (equals >= 0)
            cleaned.append(Text::trimmed(single.left(equals)) + u'=' + Text::trimmed(single.mid(equals + 1)));
        else if (!single.isEmpty() && !single.startsWith(u';') && !single.startsWith(u'['))
            cleaned.append(single);
    }
    qsizetype place = -1;
    for (qsizetype i = 0; i < d->sections.size();) {
        if (d->sections.at(i).name.compare(name, Qt::CaseInsensitive) != 0) {
            ++i;
        } else if (place < 0) {
            place = i++;
        } else {
            d->sections.removeAt(i);
        }
    }
    if (cleaned.isEmpty()) {
        if (place < 0)
            return;
        d->sections.removeAt(place);
    } else if (place < 0) {
        d->sections.append({name, cleaned});
    } else {
        d->sections[place].lines = cleaned;
    }
    d->writeBack();
}

QString IniFile::formatFloat(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0");

    // Rounded to 15 significant digits first: the form (fixed or scientific) follows the
    // rounded value, so 9.9999999999999999e-6 is written as 0.00001.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    const QByteArray text(buffer);
    const qsizetype ePos = text.indexOf('e');
    const int exponent = text.mid(ePos + 1).toInt();
    const bool negative = text.startsWith('-');
    QByteArray digits = text.left(ePos);
    digits.replace("-", "").replace(".", "");
    while (digits.size() > 1 && digits.endsWith('0'))
        digits.chop(1);

    QByteArray result = negative ? "-" : "";
    if (exponent >= -5 && exponent < 15) {
        if (exponent < 0) {
            result += "0." + QByteArray(-exponent - 1, '0') + digits;
        } else if (digits.size() <= exponent + 1) {
            result += digits + QByteArray(exponent + 1 - digits.size(), '0');
        } else {
            result += digits.left(exponent + 1) + '.' + digits.mid(exponent + 1);
        }
    } else {
        result += digits.left(1);
        if (digits.size() > 1)
            result += '.' + digits.mid(1);
        result += 'E' + QByteArray::number(exponent);
    }
    return QString::fromLatin1(result);
}

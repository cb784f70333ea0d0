#pragma once

#include <QString>

#include <memory>

// Single-value reads and writes of config.ini with the semantics of profile files: every read
// goes to the file on disk, every write changes the one key on disk at once. Window thread only.

// Remembers the folder (ending in "/"); config.ini is that folder + "config.ini" from then on.
void SetConfigFolder(const QString &folder);
QString ConfigFilePath();

// The value (at most 255 characters) or the default.
QString ReadConfigString(const QString &section, const QString &key, const QString &defaultValue);

// Throws AppError("Unable to write to %s") when the file cannot be written.
void WriteConfigString(const QString &section, const QString &key, const QString &value);

// A profile read of any INI file (language files too): section and key names ignore letter
// case and surrounding blanks; the value holds at most 2047 characters. UTF-16 LE with a
// byte-order mark and UTF-8 with or without one are read; a file without a byte-order mark
// that is not valid UTF-8 is decoded as GB18030.
QString ReadProfileString(const QString &file, const QString &section, const QString &key, const QString &defaultValue);

// The same reads from one load of the file, for a reader that asks for many keys at once (a
// language file: about sixty texts); the file is read and decoded once, when constructed.
class ProfileFile {
public:
    explicit ProfileFile(const QString &file);
    ~ProfileFile();
    ProfileFile(const ProfileFile &) = delete;
    ProfileFile &operator=(const ProfileFile &) = delete;

    QString read(const QString &section, const QString &key, const QString &defaultValue) const;
    // Whether the file has the section (letter case and blanks ignored); false for a missing,
    // unreadable or empty file.
    bool hasSection(const QString &section) const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};

// The language file that `name` (config.ini's [language] name, a language box entry) stands
// for, loaded: lang/<name> of the program folder when name is a plain file name there (no
// folder part: "../../etc/passwd" is refused unread) and the file has texts (a [main] section);
// otherwise lang/english.ini, with a line in the log; otherwise the English texts built into the
// program, with a line in the log. *path gets the file's path when not null.
std::unique_ptr<ProfileFile> OpenLanguageFile(const QString &name, QString *path = nullptr);

// The same for the language config.ini names ("english.ini" by default).
std::unique_ptr<ProfileFile> OpenConfiguredLanguageFile(QString *path = nullptr);

// Writes one key of any INI file in place, keeping every other line and the file's encoding.
// Returns false when the file cannot be written.
bool WriteProfileString(const QString &file, const QString &section, const QString &key, const QString &value);

// Integer conversion of a settings value as the system has always done it: optional leading
// blanks and sign, decimal digits or "$"/"0x" hexadecimal, nothing after them. Throws
// AppError("'%s' is not a valid integer value") otherwise, and for values outside int.
int toInteger(const QString &text);

#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The settings store of system.ini: the whole file held in memory, loaded at its first use
// after the path is set, written back whole after every write or erase. Window thread only.
class IniFile {
public:
    IniFile();
    ~IniFile();
    IniFile(const IniFile &) = delete;
    IniFile &operator=(const IniFile &) = delete;

    // The next use loads the file from this path.
    void setPath(const QString &path);
    QString path() const;

    QString readString(const QString &section, const QString &key, const QString &defaultValue);
    // Decimal, or hexadecimal after "0x"/"0X"; a value that is not an integer gives the default.
    int readInteger(const QString &section, const QString &key, int defaultValue);
    double readFloat(const QString &section, const QString &key, double defaultValue);
    bool readBool(const QString &section, const QString &key, bool defaultValue);
    // Every line of the section in file order: "key=value", or the line itself without "=".
    QStringList readSection(const QString &section);

    // Writes throw AppError("Cannot create file "%s". %s") when the file cannot be written;
    // the value stays changed in the store.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeFloat(const QString &section, const QString &key, double value);
    void eraseSection(const QString &section);
    // Gives the section exactly these lines ("key=value" or a bare line) in one write of the
    // file, so no reader or crash ever sees it half rewritten. The section keeps its place (a
    // new one goes last); other sections of that name go; no lines removes the section.
    void replaceSection(const QString &section, const QStringList &lines);

    // The general number format of decimal writes: "480" for 480, "0.1" for 0.1.
    static QString formatFloat(double value);

private:
    struct Data;
    std::unique_ptr<Data> d;
};

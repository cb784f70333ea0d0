#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A fresh, empty program folder for one test; ProgramFolder points at it while it lives.
class TestHome {
public:
    TestHome();
    ~TestHome();

    QString path() const; // ends in "/"
    QString file(const QString &relative) const;

    // Copies the shipped language files into lang/.
    void installLanguageFiles() const;
    // Copies the shipped report template to data/1.fr3.
    void installReportTemplate() const;

    void write(const QString &relative, const QByteArray &content) const;
    QByteArray read(const QString &relative) const;

    // The shipped language files (lang/ of the source tree): their names, and one file's texts
    // as "section/key" (section and key as the file spells them) to text, read line by line
    // as a person reads the file, so a key set can be compared file against file.
    static QStringList shippedLanguages();
    static QMap<QString, QString> shippedLanguageTexts(const QString &name);
    // The characters of text that no installed font of families draws (they would show as the
    // "missing" box); blanks need no glyph.
    static QString uncoveredCharacters(const QString &text, const QStringList &families);

private:
    QTemporaryDir m_dir;
};

// Root writes into any folder and reads any file, so a permission case runs its work in a child
// process that first becomes the unprivileged user "nobody"; the child sends back what the work
// reported. Empty when the child could not run it.
QByteArray reportAsNobody(const std::function<QByteArray()> &work);

#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

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

private:
    QTemporaryDir m_dir;
};

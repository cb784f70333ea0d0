#pragma once

#include <QByteArray>
#include <QString>

class Database;

// Where the report page of a stored record comes from, away from the window: the pictures, the
// template, and the language file whose captions the page shows.
struct ReportSource {
    QString imagesFolder; // ends in "/"
    QString templateFile; // data/1.fr3
    QString languageFile; // lang/<name>.ini; captions are empty without one

    // The program folder's: images/, data/1.fr3 and the language file config.ini names
    // (OpenConfiguredLanguageFile: english.ini when that one is unusable).
    static ReportSource fromProgramFolder();
};

// The report page of one examination record as the report engine's PDF document, filled as the
// preview fills it (captions from the language file, else the built-in ones; the patient's
// fields as stored). The PACS and the export job use it. Any thread with its own connection.
namespace ReportPdf {

// Throws AppError when the record is gone or the template is missing or damaged.
QByteArray render(Database &db, qint64 contentId, const ReportSource &source);

} // namespace ReportPdf

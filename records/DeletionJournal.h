#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class Database;

// The deletion journal (table t_deleted): a patient with all examination records, or one
// record, deleted by the operator is first copied here, in the deleting transaction, with the
// time; afterwards the pictures no remaining record names move to images/deleted/<ID>/. An
// administrator lists the journal and puts an entry back; entries older than the kept days are
// purged. Plain SQL only (the journal's ID is the next free one, taken inside the writer's
// transaction). One Database per thread: the window's or a command-line job's.
namespace DeletionJournal {

constexpr int kDefaultDays = 90;

struct Entry {
    qint64 id = 0;
    QDateTime deletedAt;
    QString kind; // "patient" or "record"
    QString number; // the patient's number
    QString name; // the patient's name, for a patient
    int records = 0; // examination records held
};

// Both run inside the caller's transaction: they journal the rows, then delete them with the
// system's own statements. They return the journal ID, or 0 when there was nothing to delete.
qint64 deletePatient(const Database &db, const QString &number);
qint64 deleteRecord(const Database &db, qint64 recordId);

// After the commit: moves the entry's pictures out of imagesFolder into imagesFolder/deleted/<ID>/.
// A picture that cannot be moved stays where it is (and is logged); nothing is lost.
void movePicturesAway(const Database &db, qint64 id, const QString &imagesFolder);

QList<Entry> list(const Database &db);

// Puts the entry's rows back as they were and its pictures into imagesFolder, in one
// transaction, and removes the entry. Throws AppError, changing nothing, when there is no such
// entry, or the patient's number is in use again, or a record's patient is gone. Returns a line
// saying what came back.
QString restore(Database &db, qint64 id, const QString &imagesFolder);

// Removes the entries older than days, with their pictures. Returns how many went.
int purge(Database &db, int days, const QString &imagesFolder);

} // namespace DeletionJournal

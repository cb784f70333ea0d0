#include "records/PatientNumbering.h"

#include "core/Audit.h"
#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/TrimmedText.h"
#include "records/Database.h"
#include "records/DeletionJournal.h"
#include "records/Logging.h"
#include "records/PatientLookup.h"
#include "records/PatientText.h"
#include "records/Statements.h"

#include <QLineEdit>
#include <QPushButton>

PatientNumbering::PatientNumbering(Database &db, PatientLookup &lookup, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_lookup(lookup)
{
    const PatientControls &c = m_lookup.controls();
    if (c.btnNew)
        ErrorDisplay::connectGuarded(c.btnNew, &QPushButton::clicked, this, [this] { btnNewClick(); });
    if (c.btnDelCient)
        ErrorDisplay::connectGuarded(c.btnDelCient, &QPushButton::clicked, this, [this] { btnDelCientClick(); });
}

QString PatientNumbering::NextPatientNumber()
{
    return nextPatientNumber(m_db);
}

QString PatientNumbering::nextPatientNumber(const Database &db)
{
    // By value among the all-digit numbers only: in text order "9999" lies above "10000",
    // and a typed "A12" is no number at all.
    qint64 next = Statements::greatestNumber(db).value_or(kNumberBeforeFirst) + 1;
    while (Statements::patientExists(db, QString::number(next)))
        ++next;
    return QString::number(next);
}

bool PatientNumbering::PatientExists(const QString &number)
{
    return Statements::patientExists(m_db, number);
}

void PatientNumbering::btnNewClick()
{
    // With the reaction attached: the look-up sees an empty number and hides the list.
    m_lookup.controls().edtNumber->setText(QString());
    ClearPatientFields();
    ClearSheet();
}

bool PatientNumbering::btnDelCientClick()
{
    const QString number = Text::trimmed(m_lookup.controls().edtNumber->text());
    struct Outcome {
        qint64 journalId = 0;
        QString failure; // the deletion failed and was rolled back
        std::exception_ptr moveFailure; // after the commit
    };
    auto outcome = std::make_shared<Outcome>();
    DatabaseThread::Job job = [number, outcome, images = ProgramFolder::file(QStringLiteral("images/"))](Database &db) {
        try {
            ScopedTransaction transaction(db);
            // The rows go to the deletion journal first, in the same transaction.
            if (!number.isEmpty() && Statements::patientExists(db, number))
                outcome->journalId = DeletionJournal::deletePatient(db, number);
            transaction.commit();
        } catch (const std::exception &failure) {
            outcome->failure = QString::fromUtf8(failure.what());
            return;
        }
        try {
            if (outcome->journalId)
                DeletionJournal::movePicturesAway(db, outcome->journalId, images);
        } catch (...) {
            outcome->moveFailure = std::current_exception();
        }
    };
    DatabaseThread::Done done = [this, number, outcome](std::exception_ptr failure) {
        m_deleted = false;
        if (failure)
            std::rethrow_exception(failure);
        if (!outcome->failure.isNull()) {
            // Rolled back: nothing was deleted, and the fields still show the patient.
            qCWarning(lcRecords) << "the patient was not deleted:" << outcome->failure;
            Audit::record(Audit::Event::PatientDeleted, number, Audit::Outcome::SeriousFailure);
            return;
        }
        if (outcome->journalId)
            Audit::record(Audit::Event::PatientDeleted, number);
        if (outcome->moveFailure)
            std::rethrow_exception(outcome->moveFailure);
        ClearPatientFields();
        ClearSheet();
        m_lookup.controls().edtNumber->setText(QString());
        m_deleted = true;
    };
    if (m_runner) {
        m_runner(std::move(job), std::move(done));
        return false;
    }
    DatabaseThread::runHere(m_db, job, done);
    return m_deleted;
}

void PatientNumbering::ClearPatientFields()
{
    m_lookup.ClearPatientFields();
}

void PatientNumbering::ClearSheet()
{
    m_lookup.ClearSheet();
}

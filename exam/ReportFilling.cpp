#include "exam/ReportFilling.h"

#include "core/AppError.h"
#include "core/Audit.h"
#include "core/ErrorDisplay.h"
#include "exam/PictureSlots.h"
#include "imaging/JpegFile.h"
#include "records/Database.h"
#include "records/DeletionJournal.h"
#include "records/Logging.h"
#include "records/PictureStore.h"
#include "records/RecordSet.h"
#include "records/Statements.h"
#include "report/ReportPreview.h"
#include "report/ReportPrinter.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace {

const QString kColon = QStringLiteral(":");
const QString kJobName = QStringLiteral("Report");

} // namespace

ReportFilling::ReportFilling(RecordSet &ADOQuery1, Database &db, ReportFillingHooks hooks, const QString &imagesFolder,
                             const QString &templateFile, QWidget *previewParent, QObject *parent)
    : QObject(parent)
    , m_ADOQuery1(ADOQuery1)
    , m_db(db)
    , m_hooks(std::move(hooks))
    , m_imagesFolder(imagesFolder)
    , m_templateFile(templateFile)
    , m_previewParent(previewParent)
    , m_printer(new ReportPrinter(this))
{
    // CUPS's answer arrives on the window's thread; the ready flag and the live picture come
    // back when the job is handed over or refused, and any failure is shown.
    connect(m_printer, &ReportPrinter::handedOver, this, [this](int ticket) {
        if (ticket == m_requestTicket)
            finishRequest();
    });
    connect(m_printer, &ReportPrinter::failed, this, &ReportFilling::printFailed);
}

ReportFilling::~ReportFilling()
{
    delete m_preview.data();
}

ReportPreview *ReportFilling::preview() const
{
    return m_preview.data();
}

QString ReportFilling::controlTextOf(const QWidget *window, const QString &controlName)
{
    if (!window)
        return {};
    const QWidget *control = window->findChild<QWidget *>(controlName);
    if (const auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (const auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    if (const auto *combo = qobject_cast<const QComboBox *>(control))
        return combo->currentText();
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    return {};
}

void ReportFilling::withRecords(std::function<void()> then)
{
    const QString number = m_hooks.controlText(QStringLiteral("edtNumber")).trimmed();
    if (m_hooks.openExaminationRecordsThen) {
        m_hooks.openExaminationRecordsThen(number, [then = std::move(then)](bool found) {
            if (found)
                then();
        });
        return;
    }
    if (m_hooks.openExaminationRecords(number))
        then();
}

void ReportFilling::btnPrevReportClick()
{
    withRecords([this] { PreviewReport(); });
}

void ReportFilling::btnPrintClick()
{
    withRecords([this] {
        if (m_hooks.askMessage(QStringLiteral("Msg_print_report")) == Dialogs::Answer::Yes)
            PrintReport();
    });
}

template<typename Request> void ReportFilling::runRequest(Request &&request)
{
    if (!m_reportReady)
        return;
    m_reportReady = false;
    m_requestTicket = 0;
    m_resumeGraph = m_hooks.graphRunning && m_hooks.graphRunning();
    if (m_resumeGraph && m_hooks.pauseGraph)
        m_hooks.pauseGraph();
    // A request that fails (damaged template, no printer) gives the flag and the live picture
    // back; otherwise every later preview and print would be ignored for good.
    bool later = false;
    try {
        m_report.clear();
        FillReport();
        if (m_report.prepare())
            later = request();
    } catch (...) {
        finishRequest();
        throw;
    }
    if (!later)
        finishRequest();
}

void ReportFilling::finishRequest()
{
    m_requestTicket = 0;
    m_reportReady = true;
    if (m_resumeGraph && m_hooks.runGraph)
        m_hooks.runGraph();
    m_resumeGraph = false;
}

void ReportFilling::PreviewReport()
{
    runRequest([this] {
        showPreview();
        return false;
    });
}

void ReportFilling::PrintReport()
{
    runRequest([this] {
        m_requestTicket = print(m_report);
        return m_requestTicket != 0;
    });
}

int ReportFilling::print(const ReportTemplate &report)
{
    Audit::record(Audit::Event::ReportPrinted, m_hooks.controlText(QStringLiteral("edtNumber")));
    if (m_hooks.print) {
        m_hooks.print(report, kJobName);
        return 0;
    }
    return m_printer->print(report, kJobName);
}

void ReportFilling::printFailed(int ticket, const QString &reason)
{
    if (ticket == m_requestTicket)
        finishRequest();
    QString text = m_hooks.text ? m_hooks.text(QStringLiteral("Msg_print_failed")) : QString();
    if (!text.contains(QStringLiteral("%1")))
        text = QStringLiteral("The report was not printed: %1");
    ErrorDisplay::show(text.arg(reason));
}

void ReportFilling::showPreview()
{
    if (!m_preview) {
        m_preview = new ReportPreview(m_previewParent);
        m_preview->setWindowFlag(Qt::Window);
        // The preview waits for each message to be handled before its next input, as the
        // handlers run inside the button's signal.
        ErrorDisplay::connectGuarded(m_preview.data(), &ReportPreview::recordRequested, this,
                                     [this](int which) { WMMySelRecordMsg(which); });
        ErrorDisplay::connectGuarded(m_preview.data(), &ReportPreview::deleteRequested, this,
                                     [this] { WMMyDelRecordMsg(); });
        ErrorDisplay::connectGuarded(m_preview.data(), &ReportPreview::printRequested, this,
                                     [this](const ReportTemplate &shown) { print(shown); });
    }
    m_preview->showReport(m_report);
    if (QAction *remove = m_preview->action(QStringLiteral("actDelete")))
        remove->setEnabled(m_deleteAllowed);
    Audit::record(Audit::Event::ReportPreviewed, m_hooks.controlText(QStringLiteral("edtNumber")));
    if (!m_preview->isVisible())
        m_preview->showMaximized();
}

ReportObject &ReportFilling::object(const QString &name)
{
    ReportObject *found = m_report.find(name);
    if (!found)
        throw AppError(QStringLiteral("The report template %1 has no object named %2.").arg(m_templateFile, name));
    return *found;
}

void ReportFilling::setText(const QString &name, const QString &text)
{
    object(name).text = text;
}

QString ReportFilling::field(const QString &column) const
{
    // After the last record was deleted in the preview there is no row; it reads as empty.
    if (m_ADOQuery1.isEmpty() || m_ADOQuery1.Bof() || m_ADOQuery1.Eof())
        return {};
    return m_ADOQuery1.asString(column);
}

QString ReportFilling::printDate() const
{
    const QString stored = field(QStringLiteral("printtime"));
    if (stored.isEmpty())
        return {};
    const QDateTime moment = m_ADOQuery1.asDateTime(QStringLiteral("printtime"));
    return moment.isValid() ? moment.toString(Statements::kTimeFormat) : stored;
}

void ReportFilling::FillReport()
{
    if (!m_report.load(m_templateFile))
        throw AppError(QStringLiteral("The report template %1 is missing.").arg(m_templateFile));

    const auto caption = [this](const QString &control) { return m_hooks.controlText(control) + kColon; };
    setText(QStringLiteral("lbName"), caption(QStringLiteral("lbName")));
    setText(QStringLiteral("lbSex"), caption(QStringLiteral("lbSex")));
    setText(QStringLiteral("lbAge"), caption(QStringLiteral("lbAge")));
    setText(QStringLiteral("lbTel"), caption(QStringLiteral("lbTel")));
    setText(QStringLiteral("lbAddr"), caption(QStringLiteral("lbAddr")));
    setText(QStringLiteral("lbNumber"), caption(QStringLiteral("lbNumber")));
    setText(QStringLiteral("lbImageShown"), caption(QStringLiteral("lbPic")));
    setText(QStringLiteral("lbSymptom"), caption(QStringLiteral("lbSypmtom")));
    setText(QStringLiteral("lb_treat"), caption(QStringLiteral("lbTreat")));
    setText(QStringLiteral("lb_doctor"), caption(QStringLiteral("lbDoctor")));
    setText(QStringLiteral("lb_proposer"), caption(QStringLiteral("lbProposer")));
    setText(QStringLiteral("lbDate"), m_hooks.text(QStringLiteral("lbDate.Caption")) + kColon);

    setText(QStringLiteral("mm_title"), field(QStringLiteral("title")));
    setText(QStringLiteral("mm_doctor"), field(QStringLiteral("doctor")));

    const QString proposer = field(QStringLiteral("proposer"));
    if (!proposer.trimmed().isEmpty()) {
        object(QStringLiteral("lb_proposer")).visible = true;
        setText(QStringLiteral("mm_proposer"), proposer);
    } else {
        object(QStringLiteral("lb_proposer")).visible = false;
        setText(QStringLiteral("mm_proposer"), QString());
        // The key is asked for with its trailing blank, as the language files know it.
        setText(QStringLiteral("lb_doctor"), m_hooks.text(QStringLiteral("lbOne_doctor.Caption ")) + kColon);
    }

    setText(QStringLiteral("mm_client_id"), field(QStringLiteral("client_id")));
    setText(QStringLiteral("mm_client_name"), m_hooks.controlText(QStringLiteral("edtName")));
    setText(QStringLiteral("mm_client_sex"), m_hooks.controlText(QStringLiteral("cbSex")));
    setText(QStringLiteral("mm_client_age"), m_hooks.controlText(QStringLiteral("edtAge")));
    setText(QStringLiteral("mm_client_tel"), m_hooks.controlText(QStringLiteral("edtTel")));
    setText(QStringLiteral("mm_client_addr"), m_hooks.controlText(QStringLiteral("edtAddr")));
    setText(QStringLiteral("mm_print_date"), printDate());

    for (int n = 1; n <= 4; ++n)
        setText(QStringLiteral("mm_sym%1").arg(n), field(QStringLiteral("symptom%1").arg(n)));

    const bool hasTreat =
        !field(QStringLiteral("has_treat")).isEmpty() && m_ADOQuery1.asBoolean(QStringLiteral("has_treat"));
    if (hasTreat) {
        object(QStringLiteral("lb_treat")).visible = true;
        for (int n = 1; n <= 4; ++n)
            setText(QStringLiteral("mm_treat%1").arg(n), field(QStringLiteral("treat%1").arg(n)));
    } else {
        object(QStringLiteral("lb_treat")).visible = false;
    }

    for (int n = 1; n <= 4; ++n)
        loadPicture(n);

    setText(QStringLiteral("mm_sym5"), field(QStringLiteral("symptom5")));
}

void ReportFilling::loadPicture(int n)
{
    ReportObject &picture = object(QStringLiteral("pic%1").arg(n));
    const QString name = field(QStringLiteral("pic%1").arg(n));
    // A stored name is a bare file name; anything else (a path, "..") must not reach outside
    // the images folder.
    if (!PictureSlots::isPlainFileName(name))
        return;
    try {
        // Fetched with the records already when they were opened in the background.
        if (!m_hooks.openExaminationRecordsThen)
            PictureStore::fetchWhenMissing(m_db, m_imagesFolder, name);
        if (!QFileInfo(m_imagesFolder + name).isFile())
            return;
        picture.picture = JpegFile::read(m_imagesFolder + name);
    } catch (const AppError &failure) {
        // A damaged picture file (or one the server could not hand over) leaves its area empty
        // like a missing one; the report still shows.
        qCWarning(lcRecords) << "report picture" << name << "not shown:" << failure.message();
        picture.picture = QImage();
    }
}

void ReportFilling::WMMySelRecordMsg(int lParam)
{
    if (m_ADOQuery1.isEmpty())
        return;
    switch (lParam) {
    case 1:
        m_ADOQuery1.First();
        break;
    case 2:
        m_ADOQuery1.Prior();
        if (m_ADOQuery1.Bof())
            m_ADOQuery1.First();
        break;
    case 3:
        m_ADOQuery1.Next();
        if (m_ADOQuery1.Eof())
            m_ADOQuery1.Last();
        break;
    case 4:
        m_ADOQuery1.Last();
        break;
    default:
        break;
    }
    PreviewReport();
}

void ReportFilling::setDeleteAllowed(bool allowed)
{
    m_deleteAllowed = allowed;
    if (m_preview && m_preview->action(QStringLiteral("actDelete")))
        m_preview->action(QStringLiteral("actDelete"))->setEnabled(allowed);
}

void ReportFilling::WMMyDelRecordMsg()
{
    if (!m_deleteAllowed)
        return;
    if (m_ADOQuery1.isEmpty())
        return;
    if (m_hooks.askMessage(QStringLiteral("Msg_delete_report")) != Dialogs::Answer::Yes)
        return;
    const QString number = m_ADOQuery1.asString(QStringLiteral("client_id"));
    // The record set as it will stand after the deletion, committed only then.
    auto records = std::make_shared<RecordSet>(m_ADOQuery1);
    auto moveFailure = std::make_shared<std::exception_ptr>();
    DatabaseThread::Job job = [records, moveFailure, folder = m_imagesFolder](Database &db) {
        qint64 journalId = 0;
        {
            ScopedTransaction transaction(db);
            journalId = records->Delete(db);
            transaction.commit();
        }
        try {
            if (journalId)
                DeletionJournal::movePicturesAway(db, journalId, folder);
        } catch (...) {
            *moveFailure = std::current_exception();
        }
    };
    DatabaseThread::Done done = [this, number, records, moveFailure](std::exception_ptr failure) {
        if (failure)
            std::rethrow_exception(failure);
        m_ADOQuery1 = *records;
        Audit::record(Audit::Event::RecordDeleted, number);
        if (*moveFailure)
            std::rethrow_exception(*moveFailure);
        PreviewReport();
    };
    if (m_hooks.runner)
        m_hooks.runner(std::move(job), std::move(done));
    else
        DatabaseThread::runHere(m_db, job, done);
}

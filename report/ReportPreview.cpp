#include "report/ReportPreview.h"

#include "core/Dialogs.h"
#include "report/ReportRenderer.h"

#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPixmap>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// The zoom list; the last two entries follow the window's size instead of a factor.
struct ZoomChoice {
    const char *text;
    double factor;
};
constexpr ZoomChoice kZoomChoices[] = {{"25%", 0.25}, {"50%", 0.5},  {"75%", 0.75},       {"100%", 1.0},
                                       {"150%", 1.5}, {"200%", 2.0}, {"Page width", 0.0}, {"Whole page", 0.0}};
constexpr int kPageWidthChoice = 6;
constexpr int kWholePageChoice = 7;
constexpr int kHundredChoice = 3;

// The Print button's picture where the desktop theme has none: a printer with its sheet.
QIcon printerIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 60, 60), 2));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(9, 3, 14, 10)); // paper going in
    painter.setBrush(QColor(120, 120, 120));
    painter.drawRoundedRect(QRectF(3, 12, 26, 12), 3, 3); // body
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(9, 20, 14, 9)); // sheet coming out
    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.drawLine(QPointF(12, 24), QPointF(20, 24));
    return QIcon(pixmap);
}

} // namespace

ReportPreview::ReportPreview(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_printer(new QPrinter(QPrinter::ScreenResolution))
{
    setObjectName(QStringLiteral("frmReportPreview"));
    setWindowTitle(QStringLiteral("Report"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto *bar = new QToolBar(this);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_view = new QPrintPreviewWidget(m_printer, this);
    m_view->setViewMode(QPrintPreviewWidget::SinglePageView);

    QAction *print = addButton(bar, QStringLiteral("actPrint"), QStringLiteral("Print"), QStyle::SP_CustomBase);
    print->setIcon(QIcon::fromTheme(QStringLiteral("document-print"), printerIcon()));
    connect(print, &QAction::triggered, this, [this] { emit printRequested(m_report); });
    QAction *zoomIn = addButton(bar, QStringLiteral("actZoomIn"), QStringLiteral("Zoom in"), QStyle::SP_ArrowUp);
    connect(zoomIn, &QAction::triggered, m_view, [this] {
        m_view->zoomIn();
        showZoom();
    });

    m_zoom = new QComboBox(bar);
    m_zoom->setObjectName(QStringLiteral("cbZoom"));
    for (const ZoomChoice &choice : kZoomChoices)
        m_zoom->addItem(QString::fromLatin1(choice.text));
    bar->addWidget(m_zoom);
    connect(m_zoom, &QComboBox::activated, this, &ReportPreview::zoomChosen);

    QAction *wholePage =
        addButton(bar, QStringLiteral("actWholePage"), QStringLiteral("Whole page"), QStyle::SP_TitleBarNormalButton);
    connect(wholePage, &QAction::triggered, this, [this] { zoomChosen(kWholePageChoice); });
    QAction *fullScreen =
        addButton(bar, QStringLiteral("actFullScreen"), QStringLiteral("Full screen"), QStyle::SP_TitleBarMaxButton);
    connect(fullScreen, &QAction::triggered, this, [this] { isFullScreen() ? showMaximized() : showFullScreen(); });
    QAction *settings = addButton(bar, QStringLiteral("actPageSettings"), QStringLiteral("Page settings"),
                                  QStyle::SP_FileDialogDetailedView);
    connect(settings, &QAction::triggered, this, &ReportPreview::pageSettings);

    bar->addSeparator();
    const QAction *first =
        addButton(bar, QStringLiteral("actFirst"), QStringLiteral("First Page"), QStyle::SP_MediaSkipBackward);
    const QAction *prior =
        addButton(bar, QStringLiteral("actPrior"), QStringLiteral("Prior Page"), QStyle::SP_MediaSeekBackward);
    const QAction *next =
        addButton(bar, QStringLiteral("actNext"), QStringLiteral("Next Page"), QStyle::SP_MediaSeekForward);
    const QAction *last =
        addButton(bar, QStringLiteral("actLast"), QStringLiteral("Last Page"), QStyle::SP_MediaSkipForward);
    const QAction *del =
        addButton(bar, QStringLiteral("actDelete"), QStringLiteral("Delete Page"), QStyle::SP_TrashIcon);
    connect(first, &QAction::triggered, this, [this] { emit recordRequested(1); });
    connect(prior, &QAction::triggered, this, [this] { emit recordRequested(2); });
    connect(next, &QAction::triggered, this, [this] { emit recordRequested(3); });
    connect(last, &QAction::triggered, this, [this] { emit recordRequested(4); });
    connect(del, &QAction::triggered, this, &ReportPreview::deleteRequested);

    bar->addSeparator();
    const QAction *close =
        addButton(bar, QStringLiteral("actClose"), QStringLiteral("Close"), QStyle::SP_DialogCloseButton);
    connect(close, &QAction::triggered, this, &QWidget::close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(m_view, 1);

    connect(m_view, &QPrintPreviewWidget::paintRequested, this, &ReportPreview::paintPage);
    m_zoom->setCurrentIndex(kHundredChoice);
    zoomChosen(kHundredChoice);
}

ReportPreview::~ReportPreview()
{
    delete m_view;
    delete m_printer;
}

QAction *ReportPreview::addButton(QToolBar *bar, const QString &name, const QString &toolTip,
                                  QStyle::StandardPixmap icon)
{
    QAction *a = bar->addAction(icon == QStyle::SP_CustomBase ? QIcon() : style()->standardIcon(icon), QString());
    a->setObjectName(name);
    a->setToolTip(toolTip);
    return a;
}

QAction *ReportPreview::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void ReportPreview::showReport(const ReportTemplate &report)
{
    m_report = report;
    if (m_margins)
        m_report.setMargins(*m_margins);
    m_view->updatePreview();
}

void ReportPreview::paintPage(QPrinter *printer)
{
    ReportRenderer::renderToDevice(m_report, *printer, ReportRenderer::Text::Outlines);
}

void ReportPreview::zoomChosen(int index)
{
    if (index == kPageWidthChoice) {
        m_view->fitToWidth();
    } else if (index == kWholePageChoice) {
        m_view->fitInView();
    } else if (index >= 0 && index < kPageWidthChoice) {
        m_view->setZoomMode(QPrintPreviewWidget::CustomZoom);
        m_view->setZoomFactor(kZoomChoices[index].factor);
    }
    if (index >= 0 && index < m_zoom->count())
        m_zoom->setCurrentIndex(index);
}

void ReportPreview::showZoom()
{
    const int percent = qRound(m_view->zoomFactor() * 100.0);
    const int index = m_zoom->findText(QStringLiteral("%1%").arg(percent));
    // A factor that is not in the list shows as the list's placeholder, e.g. "110%".
    m_zoom->setPlaceholderText(QStringLiteral("%1%").arg(percent));
    m_zoom->setCurrentIndex(index);
}

void ReportPreview::pageSettings()
{
    QPrinter printer;
    printer.setPageLayout(QPageLayout(QPageSize(m_report.pageSize(), QPageSize::Millimeter), QPageLayout::Portrait,
                                      m_report.margins(), QPageLayout::Millimeter));
    QPageSetupDialog dialog(&printer, this);
    if (Dialogs::exec(dialog) != QDialog::Accepted)
        return;
    m_margins = printer.pageLayout().margins(QPageLayout::Millimeter);
    showReport(m_report);
}

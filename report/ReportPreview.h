#pragma once

#include "report/ReportTemplate.h"

#include <QStyle>
#include <QWidget>

#include <optional>

class QComboBox;
class QPrintPreviewWidget;
class QPrinter;
class QToolBar;
class QAction;

// The report's preview window: shows one prepared page and offers print, zoom, page settings
// and the record buttons. The record buttons do not turn pages; they ask the owner to step
// through or delete examination records (recordRequested with 1 first, 2 prior, 3 next,
// 4 last; deleteRequested), and the owner answers by calling showReport again before the
// signal returns. Window thread only; the window is not modal.
class ReportPreview : public QWidget {
    Q_OBJECT

public:
    explicit ReportPreview(QWidget *parent = nullptr);
    ~ReportPreview() override;

    // Shows a copy of the prepared report, refreshing the page in place.
    void showReport(const ReportTemplate &report);
    const ReportTemplate &report() const { return m_report; }

    QAction *action(const QString &objectName) const;
    QPrintPreviewWidget *previewWidget() const { return m_view; }
    QComboBox *zoomBox() const { return m_zoom; }

signals:
    void recordRequested(int which);
    void deleteRequested();
    // The Print button: print the report shown.
    void printRequested(const ReportTemplate &report);

private:
    void paintPage(QPrinter *printer);
    void zoomChosen(int index);
    // The zoom list shows the factor the page is shown at.
    void showZoom();
    void pageSettings();
    QAction *addButton(QToolBar *bar, const QString &name, const QString &toolTip, QStyle::StandardPixmap icon);

    ReportTemplate m_report;
    // Margins chosen in the page settings; they stay for every page this window shows.
    std::optional<QMarginsF> m_margins;
    QPrinter *m_printer;
    QPrintPreviewWidget *m_view;
    QComboBox *m_zoom;
};

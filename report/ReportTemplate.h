#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>

// The report engine's model of one report page: the paper, its margins and the named text,
// picture and line objects placed on the band inside the margins (millimetres). Loaded from
// the engine's XML template; the system fills the objects by name. Window thread only.
struct ReportObject {
    enum class Kind { Text, Picture, Line };

    Kind kind = Kind::Text;
    QString name;
    QRectF frame; // mm from the band's top-left corner; a line uses left, top and width
    bool visible = true;

    // Text objects.
    QString text;
    QString fontFamily = QStringLiteral("Arial");
    double fontSize = 10.0; // points
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
    double lineGap = 0.0; // extra mm between the lines of a text of several lines

    // Picture objects: stretched to the frame, aspect ratio not kept.
    QImage picture;

    // Lines: pen width in pixels at 96 dpi, as the template was designed on screen.
    double penWidth = 1.0;
};

class ReportTemplate {
public:
    // Empties the report: no objects, an A4 portrait page without margins.
    void clear();

    // Empties the report, then reads a template file. A missing file leaves the report empty
    // and answers false; a file that is not a valid template throws AppError naming the file
    // and the fault, leaving the report empty.
    bool load(const QString &path);
    // The same from template text (the file's content); source names it in errors.
    void loadFromText(const QByteArray &content, const QString &source);

    bool isEmpty() const { return m_objects.isEmpty(); }

    // The object of that name, ignoring letter case; null when there is none.
    ReportObject *find(const QString &name);
    const ReportObject *find(const QString &name) const;

    // Lays the page out; false when there is nothing to show (an empty report).
    bool prepare() const { return !m_objects.isEmpty(); }

    QSizeF pageSize() const { return m_pageSize; } // mm
    QMarginsF margins() const { return m_margins; } // mm
    void setMargins(const QMarginsF &margins) { m_margins = margins; }
    const QList<ReportObject> &objects() const { return m_objects; }

private:
    QSizeF m_pageSize{210.0, 297.0};
    QMarginsF m_margins;
    QList<ReportObject> m_objects;
    QHash<QString, int> m_index; // case-folded name -> position in m_objects
};

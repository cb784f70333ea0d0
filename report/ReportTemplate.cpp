#include "report/ReportTemplate.h"

#include "core/AppError.h"
#include "core/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QXmlStreamReader>

#include <cmath>
#include <optional>

namespace {

// A fault description as the last part of a sentence: exactly one full stop at its end, even
// when the description (an XML parser's text) brings its own.
QString sentence(QString text)
{
    while (text.endsWith(u'.'))
        text.chop(1);
    return text + u'.';
}

// Reads the attributes of one element; the first fault stops the load with the element's line.
class Attributes {
public:
    Attributes(const QXmlStreamReader &xml, const QString &source)
        : m_attributes(xml.attributes())
        , m_source(source)
        , m_line(xml.lineNumber())
        , m_reader(xml)
    {
    }

    [[noreturn]] void fail(const QString &what) const
    {
        throw AppError(QStringLiteral("The report template %1 is damaged (line %2, <%3>): %4")
                           .arg(m_source)
                           .arg(m_line)
                           .arg(m_reader.name().toString(), sentence(what)));
    }

    std::optional<double> optionalNumber(const QString &name) const
    {
        if (!m_attributes.hasAttribute(name))
            return std::nullopt;
        bool ok = false;
        const double value = m_attributes.value(name).toDouble(&ok);
        // Sizes far beyond a sheet of paper are as broken as text where a number belongs.
        if (!ok || !std::isfinite(value) || std::abs(value) > 10000.0)
            fail(QStringLiteral("attribute \"%1\" is not a number").arg(name));
        return value;
    }

    double number(const QString &name) const
    {
        const auto value = optionalNumber(name);
        if (!value)
            fail(QStringLiteral("attribute \"%1\" is missing").arg(name));
        return *value;
    }

    double number(const QString &name, double fallback) const { return optionalNumber(name).value_or(fallback); }

    QString text(const QString &name) const { return m_attributes.value(name).toString(); }

private:
    QXmlStreamAttributes m_attributes;
    QString m_source;
    qint64 m_line;
    // Faults are found while the reader stands on the element, so its name is read then.
    const QXmlStreamReader &m_reader;
};

Qt::Alignment horizontalAlignment(const Attributes &a)
{
    const QString value = a.text(QStringLiteral("halign")).toLower();
    if (value.isEmpty() || value == u"left")
        return Qt::AlignLeft;
    if (value == u"center")
        return Qt::AlignHCenter;
    if (value == u"right")
        return Qt::AlignRight;
    a.fail(QStringLiteral("unknown halign \"%1\"").arg(value));
}

Qt::Alignment verticalAlignment(const Attributes &a)
{
    const QString value = a.text(QStringLiteral("valign")).toLower();
    if (value.isEmpty() || value == u"top")
        return Qt::AlignTop;
    if (value == u"center")
        return Qt::AlignVCenter;
    if (value == u"bottom")
        return Qt::AlignBottom;
    a.fail(QStringLiteral("unknown valign \"%1\"").arg(value));
}

} // namespace

void ReportTemplate::clear()
{
    m_pageSize = QSizeF(210.0, 297.0);
    m_margins = QMarginsF();
    m_objects.clear();
    m_index.clear();
}

bool ReportTemplate::load(const QString &path)
{
    clear();
    if (!QFileInfo::exists(path))
        return false;
    // Only a regular file of a sane size is read: a pipe would hang the preview, a device or a
    // huge file fill the memory.
    QByteArray content;
    QString reason;
    if (!SafeFile::readFile(path, &content, &reason))
        throw AppError(QStringLiteral("The report template %1 cannot be read: %2").arg(path, sentence(reason)));
    loadFromText(content, path);
    return true;
}

void ReportTemplate::loadFromText(const QByteArray &content, const QString &source)
{
    clear();
    QXmlStreamReader xml(content);
    QList<ReportObject> objects;
    QHash<QString, int> index; // case-folded name -> position, so a load stays linear
    QSizeF pageSize = m_pageSize;
    QMarginsF margins;
    bool sawReport = false;
    bool sawPage = false;

    const auto broken = [&](const QString &what) {
        throw AppError(QStringLiteral("The report template %1 is damaged (line %2): %3")
                           .arg(source)
                           .arg(xml.lineNumber())
                           .arg(sentence(what)));
    };

    if (content.trimmed().isEmpty())
        broken(QStringLiteral("the file is empty"));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const Attributes a(xml, source);
        const QStringView element = xml.name();
        if (!sawReport) {
            if (element != u"report")
                broken(QStringLiteral("the file is no report template"));
            sawReport = true;
            continue;
        }
        if (element == u"page") {
            if (sawPage)
                a.fail(QStringLiteral("a report has one page"));
            sawPage = true;
            pageSize = QSizeF(a.number(QStringLiteral("width")), a.number(QStringLiteral("height")));
            margins = QMarginsF(a.number(QStringLiteral("left"), 0.0), a.number(QStringLiteral("top"), 0.0),
                                a.number(QStringLiteral("right"), 0.0), a.number(QStringLiteral("bottom"), 0.0));
            if (pageSize.width() <= 0 || pageSize.height() <= 0)
                a.fail(QStringLiteral("the page has no size"));
            if (margins.left() < 0 || margins.top() < 0 || margins.right() < 0 || margins.bottom() < 0
                || margins.left() + margins.right() >= pageSize.width()
                || margins.top() + margins.bottom() >= pageSize.height())
                a.fail(QStringLiteral("the margins leave no room on the page"));
            continue;
        }
        if (!sawPage)
            a.fail(QStringLiteral("objects belong inside <page>"));

        ReportObject object;
        if (element == u"text")
            object.kind = ReportObject::Kind::Text;
        else if (element == u"picture")
            object.kind = ReportObject::Kind::Picture;
        else if (element == u"line")
            object.kind = ReportObject::Kind::Line;
        else
            a.fail(QStringLiteral("unknown object kind"));

        object.name = a.text(QStringLiteral("name"));
        if (object.name.trimmed().isEmpty())
            a.fail(QStringLiteral("the object has no name"));
        const QString key = object.name.toCaseFolded();
        if (index.contains(key))
            a.fail(QStringLiteral("the name \"%1\" is used twice").arg(object.name));
        const double height = object.kind == ReportObject::Kind::Line ? 0.0 : a.number(QStringLiteral("height"));
        object.frame = QRectF(a.number(QStringLiteral("left")), a.number(QStringLiteral("top")),
                              a.number(QStringLiteral("width")), height);
        if (object.frame.width() < 0 || object.frame.height() < 0)
            a.fail(QStringLiteral("negative size"));
        object.visible = a.text(QStringLiteral("visible")).compare(u"false", Qt::CaseInsensitive) != 0;

        switch (object.kind) {
        case ReportObject::Kind::Text: {
            if (QString font = a.text(QStringLiteral("font")); !font.isEmpty())
                object.fontFamily = std::move(font);
            object.fontSize = a.number(QStringLiteral("size"), 10.0);
            if (object.fontSize <= 0)
                a.fail(QStringLiteral("the font has no size"));
            object.lineGap = a.number(QStringLiteral("gap"), 0.0);
            object.alignment = horizontalAlignment(a) | verticalAlignment(a);
            object.text = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
            break;
        }
        case ReportObject::Kind::Line:
            object.penWidth = a.number(QStringLiteral("pen"), 1.0);
            if (object.penWidth <= 0)
                a.fail(QStringLiteral("the line has no width"));
            break;
        case ReportObject::Kind::Picture:
            break;
        }
        index.insert(key, objects.size());
        objects.append(std::move(object));
    }
    if (xml.hasError())
        broken(xml.errorString());
    if (!sawReport)
        broken(QStringLiteral("the file is no report template"));
    if (!sawPage)
        broken(QStringLiteral("the report has no page"));

    m_pageSize = pageSize;
    m_margins = margins;
    m_objects = std::move(objects);
    m_index = std::move(index);
}

ReportObject *ReportTemplate::find(const QString &name)
{
    const auto found = m_index.constFind(name.toCaseFolded());
    return found == m_index.cend() ? nullptr : &m_objects[*found];
}

const ReportObject *ReportTemplate::find(const QString &name) const
{
    return const_cast<ReportTemplate *>(this)->find(name);
}

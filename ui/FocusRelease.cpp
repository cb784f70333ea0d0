#include "ui/FocusRelease.h"

#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QWidget>

namespace {

// Keeps a container that took the focus looking as before: no focus rectangle, no focused
// frame. Set on the container alone; its children keep the application's style.
class NoFocusMarkStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_FrameFocusRect)
            return;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        if (auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option)) {
            QStyleOptionGroupBox copy(*box);
            copy.state &= ~State_HasFocus;
            QProxyStyle::drawComplexControl(control, &copy, painter, widget);
            return;
        }
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }
};

} // namespace

FocusRelease::Controls FocusRelease::find(QWidget *window)
{
    auto child = [window](const char *name) { return window->findChild<QWidget *>(QLatin1String(name)); };
    Controls controls;
    controls.TntGroupBox1 = child("TntGroupBox1");
    controls.TntGroupBox3 = child("TntGroupBox3");
    controls.TntPanel2 = child("TntPanel2");
    controls.TntPanel3 = child("TntPanel3");
    controls.TntPanel7 = child("TntPanel7");
    controls.plMovieContainter = child("plMovieContainter");
    controls.lstNumber = child("lstNumber");
    controls.cbLang = child("cbLang");
    controls.cbProposer = child("cbProposer");
    controls.TrackBar1 = child("TrackBar1");
    return controls;
}

FocusRelease::FocusRelease(const Controls &controls, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
{
    for (QWidget *container : {m_controls.TntGroupBox1, m_controls.TntGroupBox3, m_controls.TntPanel2,
                               m_controls.TntPanel3, m_controls.TntPanel7, m_controls.plMovieContainter})
        watch(container);
}

void FocusRelease::watch(QWidget *container)
{
    if (!container)
        return;
    // Move events without a pressed button arrive only with tracking on.
    container->setMouseTracking(true);
    // A group box without a focus policy hands any focus it gets on to its first field, which
    // would give the focus straight back to the field it was taken from.
    if (qobject_cast<QGroupBox *>(container) && container->focusPolicy() == Qt::NoFocus)
        container->setFocusPolicy(Qt::ClickFocus);
    auto *style = new NoFocusMarkStyle;
    style->setParent(container);
    container->setStyle(style);
    container->installEventFilter(this);
}

bool FocusRelease::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return QObject::eventFilter(watched, event);
    auto *container = qobject_cast<QWidget *>(watched);
    auto *mouse = static_cast<QMouseEvent *>(event);
    // A move over a child control that the child does not take reaches its parent too;
    // only the container's own background counts.
    if (!container || container->childAt(mouse->position().toPoint()))
        return QObject::eventFilter(watched, event);

    if (type == QEvent::MouseButtonRelease) {
        if (container == m_controls.TntPanel2 && mouse->button() == Qt::LeftButton
            && container->rect().contains(mouse->position().toPoint()))
            TntPanel2Click();
    } else if (container == m_controls.TntGroupBox1) {
        TntGroupBox1MouseMove();
    } else if (container == m_controls.TntGroupBox3) {
        TntGroupBox3MouseMove();
    } else if (container == m_controls.TntPanel2) {
        TntPanel2MouseMove();
    } else if (container == m_controls.TntPanel3) {
        TntPanel3MouseMove();
    } else if (container == m_controls.TntPanel7) {
        TntPanel7MouseMove();
    } else if (container == m_controls.plMovieContainter) {
        plMovieContainterMouseMove();
    }
    return QObject::eventFilter(watched, event);
}

void FocusRelease::takeFocus(QWidget *container)
{
    if (container)
        container->setFocus(Qt::MouseFocusReason);
}

bool FocusRelease::headerFieldHasFocus() const
{
    const auto holds = [](QWidget *field) {
        // An editable box's line edit holds the focus on the box's behalf.
        return field && (field->hasFocus() || field->isAncestorOf(QApplication::focusWidget()));
    };
    return holds(m_controls.cbLang) || holds(m_controls.cbProposer);
}

void FocusRelease::TntGroupBox1MouseMove()
{
    if (m_controls.lstNumber && m_controls.lstNumber->isVisible())
        takeFocus(m_controls.TntGroupBox1);
}

void FocusRelease::TntGroupBox3MouseMove()
{
    takeFocus(m_controls.TntGroupBox3);
}

void FocusRelease::TntPanel2MouseMove()
{
    takeFocus(m_controls.TntPanel2);
}

void FocusRelease::TntPanel3MouseMove()
{
    if (headerFieldHasFocus())
        takeFocus(m_controls.TntPanel3);
}

void FocusRelease::TntPanel7MouseMove()
{
    if (headerFieldHasFocus())
        takeFocus(m_controls.TntPanel7);
}

void FocusRelease::plMovieContainterMouseMove()
{
    if (m_controls.TrackBar1 && m_controls.TrackBar1->hasFocus())
        takeFocus(m_controls.plMovieContainter);
}

void FocusRelease::TntPanel2Click()
{
    takeFocus(m_controls.TntPanel2);
}

// Controls as the usage events record them.
#include "gui/TrackingControls.h"

#include "gui/WindowKeys.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVariant>
#include <QWidget>

QString GetControlCaption(const QWidget* control)
{
    // The caption as written: an access key marked for the keyboard is no part of it.
    if (const auto* button = qobject_cast<const QPushButton*>(control))
        return CaptionWithoutAccessKey(button);
    if (const auto* button = qobject_cast<const QToolButton*>(control))
        return CaptionWithoutAccessKey(button);
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    return NoCaption;
}

namespace {

constexpr char PartOfParentProperty[] = "vorlandtPartOfParent";

}  // namespace

QWidget* TrackedControl(QWidget* widget)
{
    while (widget != nullptr && !widget->isWindow() &&
           (widget->objectName().startsWith(QLatin1String("qt_")) ||
            qobject_cast<QLabel*>(widget) != nullptr || widget->property(PartOfParentProperty).toBool()))
        widget = widget->parentWidget();
    return widget;
}

void TrackAsPartOfParent(QWidget* widget)
{
    widget->setProperty(PartOfParentProperty, true);
}

TControlInfo ControlInfo(QWidget* control, std::optional<QPoint> screenPosition)
{
    TControlInfo info;
    if (control == nullptr)
        return info;
    info.Name = control->objectName();
    info.Caption = GetControlCaption(control);
    // The walk up ends at the first form; panels and group boxes on the way are skipped.
    QWidget* form = control;
    while (form != nullptr && !form->isWindow())
        form = form->parentWidget();
    if (form != nullptr) {
        info.FormName = form->objectName();
        if (screenPosition)
            info.ClientPosition = form->mapFromGlobal(*screenPosition);
    }
    return info;
}

std::unique_ptr<TMouseTrackingEvent> NewMouseTrackingEvent(QWidget* window, const QPoint& MousePosition,
                                                           TEventType EventType)
{
    QWidget* control = nullptr;
    if (window != nullptr) {
        const QPoint local = window->mapFromGlobal(MousePosition);
        control = window->childAt(local);
        if (control == nullptr && window->rect().contains(local))
            control = window;
    }
    return std::make_unique<TMouseTrackingEvent>(EventType,
                                                 ControlInfo(TrackedControl(control), MousePosition));
}

std::unique_ptr<TKeyboardTrackingEvent> NewKeyboardTrackingEvent(TKeyType ktKeyType, QWidget* Control)
{
    return std::make_unique<TKeyboardTrackingEvent>(ktKeyType, ControlInfo(TrackedControl(Control)));
}

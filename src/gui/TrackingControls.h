// How the widgets name what an input event touched: the control, its caption, the form above it
// and the position in that form, copied as text into a usage event.
#pragma once

#include "core/tracking/TrackingEvents.h"

#include <QPoint>

#include <memory>
#include <optional>

class QWidget;

// A push or tool button's or a label's text; "no caption" for every other control.
QString GetControlCaption(const QWidget* control);

// The control a person sees at `widget`: Qt's inner parts (scroll area viewports, the line edit
// inside a spin box), labels, which are only painted on their parent, and widgets marked as a
// part of their parent (a category panel's header) give way to the control they belong to.
QWidget* TrackedControl(QWidget* widget);

// Marks `widget` as a part of its parent widget, which the usage events name instead of it.
void TrackAsPartOfParent(QWidget* widget);

// Name, caption and form of `control` (may be null), and `screenPosition` in the form's client
// coordinates when given.
TControlInfo ControlInfo(QWidget* control, std::optional<QPoint> screenPosition = std::nullopt);

// A mouse event for `MousePosition` (screen coordinates) over the top-level widget `window`,
// which received the input.
std::unique_ptr<TMouseTrackingEvent> NewMouseTrackingEvent(QWidget* window, const QPoint& MousePosition,
                                                           TEventType EventType);
// A keyboard event for the control with the input focus (may be null).
std::unique_ptr<TKeyboardTrackingEvent> NewKeyboardTrackingEvent(TKeyType ktKeyType, QWidget* Control);

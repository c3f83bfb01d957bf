// Every physical input reaches the application first as an event for its QWindow and only then,
// once or several times (propagation to parents), for widgets; the filter counts only the first.
#include "gui/AppMessageHook.h"

#include "gui/TrackingControls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

namespace {

QPointer<TAppMessageHook>& InstalledHook()
{
    static QPointer<TAppMessageHook> hook;
    return hook;
}

// The top-level widget a QWindow shows.
QWidget* WidgetOf(QWindow* window)
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowHandle() == window)
            return widget;
    }
    return nullptr;
}

}  // namespace

TAppMessageHook::~TAppMessageHook()
{
    Remove();
}

void TAppMessageHook::Install(TSink sink)
{
    if (InstalledHook() && InstalledHook() != this)
        InstalledHook()->Remove();
    FSink = std::move(sink);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
        app->installEventFilter(this);
    }
    InstalledHook() = this;
}

void TAppMessageHook::Remove()
{
    FlushPendingPress();
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
    FSink = nullptr;
    if (InstalledHook() == this)
        InstalledHook() = nullptr;
}

bool TAppMessageHook::eventFilter(QObject* watched, QEvent* event)
{
    // Nothing may unwind into Qt's event delivery; a lost usage event is of no consequence.
    try {
        if (watched->isWindowType())
            Handle(static_cast<QWindow*>(watched), event);
    } catch (...) {
    }
    return false;
}

void TAppMessageHook::Handle(QWindow* window, QEvent* event)
{
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            TEventType type;
            if (mouse->button() == Qt::LeftButton)
                type = TEventType::etMouseLeftDown;
            else if (mouse->button() == Qt::RightButton)
                type = TEventType::etMouseRightDown;
            else
                return;
            FlushPendingPress();
            FPendingPress = NewMouseTrackingEvent(WidgetOf(window), mouse->globalPosition().toPoint(), type);
            FPendingButton = mouse->button();
            QTimer::singleShot(0, this, &TAppMessageHook::FlushPendingPress);
            return;
        }
        case QEvent::MouseButtonDblClick: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (FPendingPress && FPendingButton == mouse->button())
                FPendingPress.reset();
            FlushPendingPress();
            // A right double click is the second right press: recorded by neither.
            if (mouse->button() == Qt::LeftButton)
                Emit(NewMouseTrackingEvent(WidgetOf(window), mouse->globalPosition().toPoint(),
                                           TEventType::etMouseLeftDouble));
            return;
        }
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            // Only the horizontal wheel (tilting the wheel, or a horizontal swipe) counts.
            if (wheel->angleDelta().x() == 0 || wheel->angleDelta().y() != 0)
                return;
            FlushPendingPress();
            Emit(NewMouseTrackingEvent(WidgetOf(window), wheel->globalPosition().toPoint(),
                                       TEventType::etMouseWheel));
            return;
        }
        case QEvent::KeyPress:
            FlushPendingPress();
            // Every key counts as printable, repeats of a held key included; the send step
            // reduces a run of them to one.
            Emit(NewKeyboardTrackingEvent(TKeyType::ktPrintable, QApplication::focusWidget()));
            return;
        default:
            return;
    }
}

void TAppMessageHook::Emit(std::unique_ptr<TTrackingEvent> event)
{
    if (FSink)
        FSink(std::move(event));
}

void TAppMessageHook::FlushPendingPress()
{
    if (FPendingPress)
        Emit(std::move(FPendingPress));
    FPendingPress.reset();
}

// Construction of the usage events.
#include "core/tracking/TrackingEvents.h"

#include "core/platform/Clock.h"
#include "core/tracking/SystemInformation.h"

#include <QCoreApplication>
#include <QFileInfo>

QString RunningProcessName()
{
    // /proc/self/exe names the binary even when argv[0] was a symbolic link or a relative path.
    static const QString name = [] {
        QString path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
        if (path.isEmpty() && QCoreApplication::instance())
            path = QCoreApplication::applicationFilePath();
        return QFileInfo(path).fileName();
    }();
    return name;
}

TTrackingEvent::TTrackingEvent()
    : FTimeStamp(platform::Clock::now()),
      // Computed for every event: an adapter can come and go while the program runs.
      FMacAddress(TSystemInformation::GetMACAddressHashed()),
      FProcessName(RunningProcessName())
{
}

TMouseTrackingEvent::TMouseTrackingEvent(TEventType EventType, const TControlInfo& control)
{
    FInputDeviceType = TInputDeviceType::itMouse;
    FEventType = EventType;
    FControlName = control.Name;
    FControlCaption = control.Caption;
    FParentFormName = control.FormName;
    // Without a form there is nothing the position could be relative to.
    FPosition = control.ClientPosition.value_or(QPoint(0, 0));
}

TKeyboardTrackingEvent::TKeyboardTrackingEvent(TKeyType ktKeyType, const TControlInfo& control)
    : FKeyType(ktKeyType)
{
    FInputDeviceType = TInputDeviceType::itKeyboard;
    FEventType = TEventType::etKeyboardKeyPress;
    FControlName = control.Name;
    FControlCaption = control.Caption;
    FParentFormName = control.FormName;
}

TUserTrackingEvent::TUserTrackingEvent(qint32 iUserEventType, const QString& sDescription)
    : FUserEventType(iUserEventType), FDescription(sDescription)
{
}

// Keys shared by every window.
#include "gui/WindowKeys.h"

#include "gui/Application.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QVariant>
#include <QWidget>

namespace {

constexpr char HelpContextProperty[] = "vorlandtHelpContext";
constexpr char CaptionProperty[] = "vorlandtCaption";

}  // namespace

void SetUpWindowKeys(QWidget* window, int helpContext)
{
    window->setProperty(HelpContextProperty, helpContext);
    auto* help = new QShortcut(QKeySequence::HelpContents, window);
    help->setObjectName(QStringLiteral("scHilfe"));
    QObject::connect(help, &QShortcut::activated, window, [window, helpContext] {
        try {
            ShowHelpTopic(window, helpContext);
        } catch (...) {
            ShowException();
        }
    });
    // The Menu key opens context menus by itself; Shift+F10 is the same key on keyboards without one.
    auto* menu = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), window);
    menu->setObjectName(QStringLiteral("scKontextmenue"));
    QObject::connect(menu, &QShortcut::activated, window, [window] { OpenContextMenuOfFocus(window); });
}

int HelpContextOf(const QWidget* widget)
{
    return widget != nullptr ? widget->window()->property(HelpContextProperty).toInt() : 0;
}

bool OpenContextMenuOfFocus(QWidget* window)
{
    QWidget* focus = window->focusWidget();
    if (focus == nullptr || !focus->isEnabled() || !focus->isVisible())
        return false;
    // Where Qt puts a menu opened by the Menu key: the text cursor, or the middle of the control.
    const QPoint at = focus->inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, focus->mapToGlobal(at), Qt::NoModifier);
    QCoreApplication::sendEvent(focus, &event);
    return true;
}

void SetCaptionWithAccessKey(QAbstractButton* button, const QString& caption, QChar key)
{
    QString marked = caption;
    marked.replace(u'&', QStringLiteral("&&"));
    const qsizetype at = marked.indexOf(key);
    if (at >= 0)
        marked.insert(at, u'&');
    button->setText(marked);
    button->setProperty(CaptionProperty, caption);
}

QString CaptionWithoutAccessKey(const QAbstractButton* button)
{
    const QVariant caption = button->property(CaptionProperty);
    return caption.isValid() ? caption.toString() : button->text();
}

// A window as a screen reader and the screen meet it: the controls that take the focus without a
// name, the captions cut by their control, and whether the window lies within its screen. For
// widget tests only (the test links the widgets library).
#pragma once

#include <QAccessible>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace AccessibilityWalk {

inline QString Describe(const QObject* object)
{
    if (object == nullptr)
        return QStringLiteral("?");
    return QStringLiteral("%1 (%2)").arg(object->objectName(),
                                         QString::fromLatin1(object->metaObject()->className()));
}

// The widgets below `window` that the keyboard can reach, and those of them without a name. A
// spin box's inner field is left out of the accessibility tree by Qt itself: a screen reader meets
// the spin box, whose name counts.
struct TFocusableWidgets {
    int Count = 0;
    QStringList Nameless;
};

inline TFocusableWidgets FocusableWidgets(QWidget& window)
{
    TFocusableWidgets result;
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (child->focusPolicy() == Qt::NoFocus || !child->isVisibleTo(&window))
            continue;
        ++result.Count;
        QWidget* control = child;
        if (child->objectName() == QLatin1String("qt_spinbox_lineedit") && child->parentWidget() != nullptr)
            control = child->parentWidget();
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        if (accessible == nullptr || accessible->text(QAccessible::Name).trimmed().isEmpty())
            result.Nameless << Describe(child);
    }
    return result;
}

// The same from the accessibility tree's side: every interface below `parent` that says it takes
// the focus and has no name, including those that are no widgets of their own.
inline void CollectNameless(QAccessibleInterface* parent, QStringList& nameless, int depth = 0)
{
    if (parent == nullptr || depth > 50)
        return;
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface* child = parent->child(i);
        if (child == nullptr)
            continue;
        const QAccessible::State state = child->state();
        if (state.focusable && !state.invisible && child->text(QAccessible::Name).trimmed().isEmpty())
            nameless.append(Describe(child->object()));
        CollectNameless(child, nameless, depth + 1);
    }
}

// The captions that do not fit their control: a text wider or taller than the room it is drawn in.
inline QStringList CutCaptions(const QWidget& window)
{
    QStringList cut;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&window))
            continue;
        const QFontMetrics metrics(widget->font());
        QString text;
        int room = widget->width();
        if (const auto* box = qobject_cast<const QCheckBox*>(widget)) {
            text = box->text();
            if (box->sizeHint().width() > box->width() || box->sizeHint().height() > box->height() + 1)
                cut.append(text);
            continue;
        }
        if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
            text = QString(button->text()).remove(u'&');
            if (!button->icon().isNull())
                room -= button->iconSize().width() + 4;
            if (!text.isEmpty() &&
                (metrics.horizontalAdvance(text) + 6 > room || metrics.height() + 4 > button->height()))
                cut.append(text);
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            if (label->wordWrap() || label->text().isEmpty() ||
                label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored)
                continue;
            if (label->sizeHint().width() > label->width() + 1 || metrics.height() > label->height() + 1)
                cut.append(label->text());
        }
    }
    return cut;
}

// Empty where the window, frame and all, lies within the usable area of its screen; else where it
// is and what the screen offers.
inline QString OffScreen(const QWidget& window)
{
    const QRect available = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    if (available.contains(frame))
        return QString();
    return QStringLiteral("%1,%2 %3x%4 on %5,%6 %7x%8")
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height())
        .arg(available.x())
        .arg(available.y())
        .arg(available.width())
        .arg(available.height());
}

}  // namespace AccessibilityWalk

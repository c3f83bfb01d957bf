// The focus outline: a transparent child on top of its widget that paints only a border; and the
// application style's focus marks.
#include "gui/FocusOutline.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPen>
#include <QProxyStyle>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {

qreal RelativeLuminance(const QColor& colour)
{
    const auto linear = [](qreal channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

void DrawFocusMark(QPainter* painter, const QRect& rect, const QColor& colour)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    QPen pen(colour, FocusMarkWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter->setPen(pen);
    // A pen of two pixels on the rectangle's edge: one pixel outside it, one inside.
    painter->drawRect(rect);
    painter->restore();
}

// The desktop's style with clear focus marks.
class TFocusStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element == PE_FrameFocusRect) {
            // Asked for whenever the control has the focus; some styles draw nothing unless the
            // focus came by key, or only a dotted line.
            const auto* focus = qstyleoption_cast<const QStyleOptionFocusRect*>(option);
            QColor background = focus != nullptr && focus->backgroundColor.isValid()
                                    ? focus->backgroundColor
                                    : option->palette.color(QPalette::Window);
            if (option->state & State_Selected)
                background = option->palette.color(QPalette::Highlight);
            DrawFocusMark(painter, option->rect.adjusted(1, 1, -1, -1),
                          FocusMarkColour(option->palette, background));
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element == PE_PanelLineEdit && (option->state & State_HasFocus) && widget != nullptr &&
            !qobject_cast<const QAbstractSpinBox*>(widget->parentWidget()))
            DrawFocusMark(painter, option->rect.adjusted(1, 1, -1, -1),
                          FocusMarkColour(option->palette, option->palette.color(QPalette::Base)));
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        QProxyStyle::drawControl(element, option, painter, widget);
        // Some styles draw a push button's focus into its bevel, and only after a key moved it.
        if (element == CE_PushButton && (option->state & State_HasFocus)) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(*option);
            focus.rect = subElementRect(SE_PushButtonFocusRect, option, widget);
            focus.backgroundColor = option->palette.color(QPalette::Button);
            drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if ((control == CC_SpinBox || control == CC_ComboBox) && (option->state & State_HasFocus))
            DrawFocusMark(painter, option->rect.adjusted(1, 1, -1, -1),
                          FocusMarkColour(option->palette, option->palette.color(QPalette::Button)));
    }
};

class TFocusOutline : public QWidget {
public:
    explicit TFocusOutline(QWidget* watched) : QWidget(watched), FWatched(watched)
    {
        setObjectName(QStringLiteral("qt_focus_outline"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(watched->rect());
        // A scroll area's viewport and its scroll bars are children as well: the outline must
        // lie above them, and stay there when the widget raises one later.
        raise();
        watched->installEventFilter(this);
        hide();
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object == FWatched) {
            switch (event->type()) {
                case QEvent::Resize:
                    setGeometry(FWatched->rect());
                    break;
                case QEvent::FocusIn:
                    setGeometry(FWatched->rect());
                    raise();
                    show();
                    break;
                case QEvent::FocusOut:
                    hide();
                    break;
                default:
                    break;
            }
        }
        return QWidget::eventFilter(object, event);
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QPen pen(FocusMarkColour(palette(), palette().color(QPalette::Active, QPalette::Base)),
                 FocusMarkWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }

private:
    QWidget* FWatched;
};

}  // namespace

qreal ContrastRatio(const QColor& a, const QColor& b)
{
    const qreal lighter = std::max(RelativeLuminance(a), RelativeLuminance(b));
    const qreal darker = std::min(RelativeLuminance(a), RelativeLuminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

QColor FocusMarkColour(const QPalette& palette, const QColor& background)
{
    for (const QPalette::ColorRole role :
         {QPalette::Highlight, QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        const QColor colour = palette.color(QPalette::Active, role);
        if (ContrastRatio(colour, background) >= FocusMarkContrast)
            return colour;
    }
    return ContrastRatio(Qt::black, background) >= ContrastRatio(Qt::white, background) ? QColor(Qt::black)
                                                                                        : QColor(Qt::white);
}

void ShowFocusOutline(QWidget* widget)
{
    new TFocusOutline(widget);
}

void UseClearFocusMarks()
{
    if (dynamic_cast<TFocusStyle*>(QApplication::style()) != nullptr)
        return;
    // A style of the same kind as the one in use, wrapped: the proxy owns its base style, and
    // the application deletes the style it replaces.
    QApplication::setStyle(new TFocusStyle(QApplication::style()->name()));
}

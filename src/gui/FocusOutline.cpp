// The focus outline: a transparent child on top of its widget that paints only a border.
#include "gui/FocusOutline.h"

#include <QEvent>
#include <QPainter>
#include <QPen>
#include <QWidget>

namespace {

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
        QPen pen(palette().color(QPalette::Active, QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }

private:
    QWidget* FWatched;
};

}  // namespace

void ShowFocusOutline(QWidget* widget)
{
    new TFocusOutline(widget);
}

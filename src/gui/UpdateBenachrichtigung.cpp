// The update notification dialog.
#include "gui/UpdateBenachrichtigung.h"

#include "gui/Application.h"
#include "gui/FocusOutline.h"
#include "gui/OpenAddress.h"
#include "gui/PictureButton.h"
#include "gui/RichTextAccessible.h"
#include "gui/ScreenFit.h"
#include "gui/TrackingControls.h"
#include "gui/WindowKeys.h"

#include "core/catalog/UpdateList.h"
#include "core/platform/VorlandtError.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace {

// The layout, in pixels at 96 dots per inch.
constexpr QSize ClientSize(723, 490);
constexpr QSize MinimumClientSize(388, 390);
constexpr int PanelMargin = 3;
constexpr int GroupWidth = 204;
constexpr int LicenceRowHeight = 28;
constexpr int ButtonRowHeight = 36;
constexpr int HeaderHeight = 22;
// A panel starts 30 pixels high (its header and the body's margins) and grows by one row per
// entry; the first entry's top is 7 pixels inside the body.
constexpr int EntryLeft = 20;
constexpr int EntryTop = 7;
constexpr int EntryRow = 22;
constexpr int BodyBaseHeight = 30 - HeaderHeight;
// Room beside the caption of a header for its margin and the chevron.
constexpr int HeaderChrome = 30;
// The module list grows for long module names up to this width, at 96 dots per inch.
constexpr int MaximumGroupWidth = 320;

// The height of one entry row and of a header: today's pixels, or more where the font needs it.
int EntryRowHeight(const QWidget* widget)
{
    return std::max(Scaled(*widget, EntryRow), widget->fontMetrics().height() + 9);
}

int HeaderRowHeight(const QWidget* widget)
{
    QFont bold = widget->font();
    bold.setBold(true);
    return std::max(Scaled(*widget, HeaderHeight), QFontMetrics(bold).height() + 8);
}

// The focus frame of entries and headers. Styles draw theirs only after a key moved the focus,
// and some not on a selected background at all; these controls show the focus whenever they
// have it, as wide and as clear as every other focus mark.
void DrawFocusFrame(QPainter& painter, const QRect& area, const QPalette& palette, const QColor& background)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    QPen pen(FocusMarkColour(palette, background), FocusMarkWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(area).adjusted(1, 1, -1, -1));
    painter.restore();
}

// A caption for a widget that reads "&" as a mnemonic marker, shown exactly as written.
QString LiteralText(QString text)
{
    return text.replace(u'&', QStringLiteral("&&"));
}

// Screen readers meet an update entry as an item of a list that can be selected, named by its
// version and described by its module.
class TUpdateEntryAccessible : public QAccessibleWidget {
public:
    explicit TUpdateEntryAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::ListItem) {}

    QString text(QAccessible::Text t) const override
    {
        const auto* entry = static_cast<const TUpdateLabel*>(widget());
        if (t == QAccessible::Name && entry->accessibleName().isEmpty())
            return entry->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State result = QAccessibleWidget::state();
        result.selectable = true;
        result.selected = static_cast<const TUpdateLabel*>(widget())->IsCurrent();
        return result;
    }
};

constexpr char PanelHeaderProperty[] = "vorlandtPanelHeader";
constexpr char PanelBodyProperty[] = "vorlandtPanelBody";

// A panel header is a button that opens and closes its panel: screen readers hear whether the
// panel is open, and can open or close it.
class TPanelHeaderAccessible : public QAccessibleWidget {
public:
    explicit TPanelHeaderAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Button) {}

    QAccessible::State state() const override
    {
        QAccessible::State result = QAccessibleWidget::state();
        const bool open = Header()->isChecked();
        result.expandable = true;
        result.expanded = open;
        result.collapsed = !open;
        return result;
    }

    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& actionName) override
    {
        if (actionName == pressAction())
            Header()->click();
        else
            QAccessibleWidget::doAction(actionName);
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QToolButton* Header() const { return static_cast<QToolButton*>(widget()); }
};

QAccessibleInterface* UpdateEntryAccessibleFactory(const QString& className, QObject* object)
{
    if (object == nullptr || !object->isWidgetType())
        return nullptr;
    if (className == QLatin1String("TUpdateLabel"))
        return new TUpdateEntryAccessible(static_cast<QWidget*>(object));
    if (object->property(PanelHeaderProperty).toBool() &&
        (className == QLatin1String("QToolButton") || className == QLatin1String("TPictureButton")))
        return new TPanelHeaderAccessible(static_cast<QWidget*>(object));
    // A panel's body is the list its entries are items of, named by the module.
    if (className == QLatin1String("QWidget") && object->property(PanelBodyProperty).toBool())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::List);
    return nullptr;
}

void InstallAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(UpdateEntryAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

// The hot-light colour: what a hot-tracked entry and the licence link take under the pointer.
QColor HotLight(const QWidget* widget)
{
    return widget->palette().color(QPalette::Link);
}

// A themed panel header: the caption on the left, a grey double chevron on the right that
// points up while the panel is open (a click closes it) and down while it is closed.
// Enter opens and closes the panel as Space does, instead of reaching the dialog's default button.
class TPanelHeader : public TPictureButton {
public:
    TPanelHeader(const QString& caption, QWidget* parent) : TPictureButton(parent), FCaption(caption)
    {
        InstallAccessibleFactory();
        setProperty(PanelHeaderProperty, true);
        setText(LiteralText(caption));
        setAccessibleName(caption);
        setCheckable(true);
        setFixedHeight(HeaderRowHeight(this));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        // The dialog makes one header or entry the list's Tab stop; the others take a click.
        setFocusPolicy(Qt::ClickFocus);
        setAttribute(Qt::WA_Hover);
    }

    // The width the caption needs in full, beside the chevron.
    int CaptionWidth() const
    {
        QFont captionFont = font();
        captionFont.setBold(true);
        return QFontMetrics(captionFont).horizontalAdvance(FCaption) + HeaderChrome;
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        TPictureButton::resizeEvent(event);
        // The whole name where it does not fit.
        setToolTip(CaptionWidth() > width() ? FCaption : QString());
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = rect();
        const QColor base = palette().color(QPalette::Button);
        QLinearGradient fill(area.topLeft(), area.bottomLeft());
        fill.setColorAt(0, underMouse() ? base.lighter(112) : base.lighter(104));
        fill.setColorAt(1, underMouse() ? base.darker(102) : base.darker(110));
        painter.fillRect(area, fill);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(area.adjusted(0, 0, -1, -1));

        QFont captionFont = font();
        captionFont.setBold(true);
        painter.setFont(captionFont);
        painter.setPen(palette().color(QPalette::ButtonText));
        const QRect textArea = area.adjusted(6, 0, -24, 0);
        painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                         QFontMetrics(captionFont).elidedText(FCaption, Qt::ElideRight, textArea.width()));

        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal x = area.right() - 12.5;
        const qreal y = area.center().y() + 0.5;
        const qreal tip = isChecked() ? -2.5 : 2.5;
        for (const qreal offset : {-2.5, 1.5}) {
            QPainterPath chevron;
            chevron.moveTo(x - 4, y + offset - tip / 2);
            chevron.lineTo(x, y + offset + tip / 2);
            chevron.lineTo(x + 4, y + offset - tip / 2);
            painter.drawPath(chevron);
        }

        if (hasFocus())
            DrawFocusFrame(painter, area.adjusted(1, 1, -1, -1), palette(), base);
    }

private:
    QString FCaption;
};

QFrame* RowPanel(QWidget* parent, const QString& name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::NoFrame);
    return panel;
}

}  // namespace

TUpdateLabel::TUpdateLabel(const QString& text, int tag, QWidget* parent) : QLabel(text, parent), FTag(tag)
{
    InstallAccessibleFactory();
    setTextFormat(Qt::PlainText);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    // Room for the selection and the focus frame around the text.
    setContentsMargins(FocusMarkWidth + 1, FocusMarkWidth, FocusMarkWidth + 1, FocusMarkWidth);
    // A click gives the focus; the dialog makes one header or entry the list's Tab stop, and the
    // arrows move between them.
    setFocusPolicy(Qt::ClickFocus);
    adjustSize();
}

void TUpdateLabel::SetCurrent(bool current)
{
    if (current == FCurrent)
        return;
    FCurrent = current;
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    update();
}

void TUpdateLabel::focusInEvent(QFocusEvent* event)
{
    QLabel::focusInEvent(event);
    update();
    // The focused entry shows its description as the pointer over it does. The focus that comes
    // with the opening window arrives while the dialog is still being shown: its description
    // is loaded once the dialog is on the screen, so that a failure is reported over it.
    if (event->reason() == Qt::ActiveWindowFocusReason || !isActiveWindow()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (window()->focusWidget() == this)
                    Q_EMIT PointerMoved(FTag);
            },
            Qt::QueuedConnection);
        return;
    }
    Q_EMIT PointerMoved(FTag);
}

void TUpdateLabel::focusOutEvent(QFocusEvent* event)
{
    QLabel::focusOutEvent(event);
    update();
}

void TUpdateLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QPalette::ColorRole role = QPalette::WindowText;
    QColor background = palette().color(QPalette::Window);
    if (FCurrent) {
        background = palette().color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
        painter.fillRect(rect(), background);
        role = QPalette::HighlightedText;
    }
    style()->drawItemText(&painter, contentsRect(), int(alignment()), palette(), isEnabled(), text(), role);
    if (hasFocus())
        DrawFocusFrame(painter, rect(), palette(), background);
}

void TUpdateLabel::enterEvent(QEnterEvent* event)
{
    QPalette hot = palette();
    hot.setColor(QPalette::WindowText, HotLight(this));
    setPalette(hot);
    QLabel::enterEvent(event);
    Q_EMIT PointerMoved(FTag);
}

void TUpdateLabel::leaveEvent(QEvent* event)
{
    setPalette(QPalette());
    QLabel::leaveEvent(event);
}

void TUpdateLabel::mouseMoveEvent(QMouseEvent* event)
{
    QLabel::mouseMoveEvent(event);
    Q_EMIT PointerMoved(FTag);
}

TCategoryPanel::TCategoryPanel(const QString& caption, QWidget* parent) : QWidget(parent), FCaption(caption)
{
    setAccessibleName(caption);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Header = new TPanelHeader(caption, this);
    Header->setChecked(true);
    // The header is drawn as a button but belongs to the panel, which has no caption: a click on
    // it must not send the module's name as the caption of a control.
    TrackAsPartOfParent(Header);
    Body = new QWidget(this);
    Body->setObjectName(QStringLiteral("pnlEintraege"));
    Body->setProperty(PanelBodyProperty, true);
    Body->setAccessibleName(caption);
    Body->setFixedHeight(Scaled(*this, BodyBaseHeight));
    layout->addWidget(Header);
    layout->addWidget(Body);
    connect(Header, &QToolButton::toggled, this, &TCategoryPanel::ShowBody);
}

void TCategoryPanel::ShowBody(bool expanded)
{
    // Closing the panel that holds the focus leaves the focus on its header rather than letting
    // it jump to whatever follows the hidden entries.
    if (!expanded && Body->isAncestorOf(window()->focusWidget()))
        Header->setFocus(Qt::OtherFocusReason);
    Body->setVisible(expanded);
}

QString TCategoryPanel::Caption() const
{
    return FCaption;
}

bool TCategoryPanel::Expanded() const
{
    return Header->isChecked();
}

void TCategoryPanel::SetExpanded(bool expanded)
{
    Header->setChecked(expanded);
    ShowBody(expanded);
}

TUpdateLabel* TCategoryPanel::AddEntry(const QString& text, int tag)
{
    const int row = EntryRowHeight(this);
    auto* label = new TUpdateLabel(text, tag, Body);
    label->setObjectName(QStringLiteral("UpdateLabel%1").arg(tag));
    label->setAccessibleDescription(FCaption);
    label->move(Scaled(*this, EntryLeft), Scaled(*this, EntryTop) + row * int(FEntries.size()));
    FEntries.append(label);
    Body->setFixedHeight(Scaled(*this, BodyBaseHeight) + row * int(FEntries.size()));
    return label;
}

TfrmUpdateBenachrichtigung::TfrmUpdateBenachrichtigung(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint)
{
    setObjectName(QStringLiteral("frmUpdateBenachrichtigung"));
    setWindowTitle(QStringLiteral("Vorlandt Online-Updates"));
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());
    // Never larger than the screen; what does not fit scrolls.
    FitToScreen();
    resize(CapToScreen(*this, Scaled(*this, ClientSize)));

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);

    Panel1 = RowPanel(this, QStringLiteral("Panel1"));
    auto* upper = new QHBoxLayout(Panel1);
    const int margin = Scaled(*this, PanelMargin);
    upper->setContentsMargins(margin, margin, margin, margin);
    upper->setSpacing(0);

    cpgUpdates = new QScrollArea(Panel1);
    cpgUpdates->setObjectName(QStringLiteral("cpgUpdates"));
    cpgUpdates->setAccessibleName(QStringLiteral("Updates"));
    // The entries and headers inside take the focus; the scroll area itself is no stop of its own.
    cpgUpdates->setFocusPolicy(Qt::NoFocus);
    cpgUpdates->setFixedWidth(Scaled(*this, GroupWidth));
    cpgUpdates->setWidgetResizable(true);
    cpgUpdates->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cpgUpdates->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // One wheel line moves the list by one entry row.
    cpgUpdates->verticalScrollBar()->setSingleStep(EntryRowHeight(this));
    FPanelStack = new QWidget(cpgUpdates);
    FPanelStack->setObjectName(QStringLiteral("cpgUpdatesPanels"));
    FPanelLayout = new QVBoxLayout(FPanelStack);
    FPanelLayout->setContentsMargins(0, 0, 0, 0);
    FPanelLayout->setSpacing(1);
    FPanelLayout->addStretch(1);
    cpgUpdates->setWidget(FPanelStack);

    reBeschreibung = new QTextBrowser(Panel1);
    ExposeLinks(reBeschreibung);
    reBeschreibung->setObjectName(QStringLiteral("reBeschreibung"));
    reBeschreibung->setReadOnly(true);
    reBeschreibung->setAccessibleName(QStringLiteral("Beschreibung des Updates"));
    reBeschreibung->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Read with the keyboard too: the arrows scroll, Tab moves through the links and Enter opens
    // the one selected.
    reBeschreibung->setFocusPolicy(Qt::StrongFocus);
    reBeschreibung->setTextInteractionFlags(Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard);
    ShowFocusOutline(reBeschreibung);
    // Links are opened by us alone, never followed inside the browser.
    reBeschreibung->setOpenLinks(false);
    reBeschreibung->setOpenExternalLinks(false);
    connect(reBeschreibung, &QTextBrowser::anchorClicked, this,
            &TfrmUpdateBenachrichtigung::reBeschreibungURLClick);

    upper->addWidget(cpgUpdates);
    upper->addWidget(reBeschreibung, 1);

    Panel2 = RowPanel(this, QStringLiteral("Panel2"));
    Panel2->setFixedHeight(Scaled(*this, LicenceRowHeight));
    auto* licence = new QHBoxLayout(Panel2);
    licence->setContentsMargins(8, 0, 8, 0);
    licence->setSpacing(0);
    CheckBox1 = new QCheckBox(Panel2);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    Label2 = new QLabel(QStringLiteral("Ich akzeptiere die "), Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    JvLabel1 = new QLabel(QStringLiteral("Lizenzbedingungen"), Panel2);
    JvLabel1->setObjectName(QStringLiteral("JvLabel1"));
    JvLabel1->setCursor(Qt::PointingHandCursor);
    QPalette linkPalette = JvLabel1->palette();
    linkPalette.setColor(QPalette::WindowText, HotLight(this));
    JvLabel1->setPalette(linkPalette);
    JvLabel1->setAttribute(Qt::WA_Hover);
    JvLabel1->installEventFilter(this);
    Label3 = new QLabel(QStringLiteral("für diese Software"), Panel2);
    Label3->setObjectName(QStringLiteral("Label3"));
    licence->addWidget(CheckBox1);
    licence->addSpacing(4);
    licence->addWidget(Label2);
    licence->addWidget(JvLabel1);
    licence->addSpacing(JvLabel1->fontMetrics().horizontalAdvance(u' '));
    licence->addWidget(Label3);
    licence->addStretch(1);
    connect(CheckBox1, &QCheckBox::clicked, this, &TfrmUpdateBenachrichtigung::CheckBox1Click);

    Panel3 = RowPanel(this, QStringLiteral("Panel3"));
    auto* buttons = new QHBoxLayout(Panel3);
    buttons->setContentsMargins(Scaled(*this, PanelMargin + 2), 0, Scaled(*this, PanelMargin + 2), 0);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("Keine Updates durchführen"), Panel3);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    SetCaptionWithAccessKey(BitBtn2, QStringLiteral("Keine Updates durchführen"), u'K');
    // Enter on the focused button declines, as Space does; "Updates installieren" stays the
    // default button for Enter anywhere else.
    BitBtn2->setAutoDefault(true);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("Updates installieren"), Panel3);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    SetCaptionWithAccessKey(BitBtn1, QStringLiteral("Updates installieren"), u'U');
    BitBtn1->setDefault(true);
    for (QPushButton* button : {BitBtn1, BitBtn2})
        button->setMinimumWidth(button->sizeHint().width() + 16);
    Panel3->setFixedHeight(std::max(Scaled(*this, ButtonRowHeight), BitBtn1->sizeHint().height() + 8));
    buttons->addWidget(BitBtn2, 0, Qt::AlignLeft | Qt::AlignVCenter);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1, 0, Qt::AlignRight | Qt::AlignVCenter);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmUpdateBenachrichtigung::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, [this] { done(2); });

    form->addWidget(Panel1, 1);
    form->addWidget(Panel2);
    form->addWidget(Panel3);

    setTabOrder(reBeschreibung, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    BitBtn1->setFocus();

    SetUpWindowKeys(this, NotificationHelpContext);
    // Sized anew once the window manager has told the real frame.
    HoldOnScreen(*this, [this] {
        FitToScreen();
        resize(CapToScreen(*this, size()));
    });
}

void TfrmUpdateBenachrichtigung::FitToScreen()
{
    setMinimumSize(CapToScreen(*this, Scaled(*this, MinimumClientSize)));
}

void TfrmUpdateBenachrichtigung::SetListStop(QWidget* stop)
{
    FListStop = stop;
    for (TCategoryPanel* panel : Panels()) {
        panel->Header->setFocusPolicy(panel->Header == stop ? Qt::StrongFocus : Qt::ClickFocus);
        for (TUpdateLabel* entry : panel->Entries())
            entry->setFocusPolicy(entry == stop ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

QList<TCategoryPanel*> TfrmUpdateBenachrichtigung::Panels() const
{
    QList<TCategoryPanel*> panels;
    for (int i = 0; i < FPanelLayout->count(); ++i) {
        if (auto* panel = qobject_cast<TCategoryPanel*>(FPanelLayout->itemAt(i)->widget()))
            panels.append(panel);
    }
    return panels;
}

QList<QWidget*> TfrmUpdateBenachrichtigung::NavigationOrder() const
{
    QList<QWidget*> order;
    for (TCategoryPanel* panel : Panels()) {
        order.append(panel->Header);
        if (panel->Expanded()) {
            for (TUpdateLabel* entry : panel->Entries())
                order.append(entry);
        }
    }
    return order;
}

bool TfrmUpdateBenachrichtigung::NavigateFrom(QWidget* from, int key)
{
    const QList<QWidget*> order = NavigationOrder();
    const qsizetype at = order.indexOf(from);
    if (at < 0)
        return false;
    qsizetype to = at;
    switch (key) {
        case Qt::Key_Up:
            to = std::max<qsizetype>(0, at - 1);
            break;
        case Qt::Key_Down:
            to = std::min<qsizetype>(order.size() - 1, at + 1);
            break;
        case Qt::Key_Home:
            to = 0;
            break;
        case Qt::Key_End:
            to = order.size() - 1;
            break;
        default:
            return false;
    }
    order[to]->setFocus(key == Qt::Key_Up || key == Qt::Key_Home ? Qt::BacktabFocusReason
                                                                 : Qt::TabFocusReason);
    cpgUpdates->ensureWidgetVisible(order[to], 0, 0);
    return true;
}

void TfrmUpdateBenachrichtigung::MarkCurrent(int tag)
{
    bool found = false;
    for (TCategoryPanel* panel : Panels()) {
        for (TUpdateLabel* entry : panel->Entries())
            found = found || entry->Tag() == tag;
    }
    if (!found)
        return;
    for (TCategoryPanel* panel : Panels()) {
        for (TUpdateLabel* entry : panel->Entries())
            entry->SetCurrent(entry->Tag() == tag);
    }
}

void TfrmUpdateBenachrichtigung::UpdateTabOrder()
{
    // The list first, top to bottom, then the description and the buttons.
    QList<QWidget*> order;
    for (TCategoryPanel* panel : Panels()) {
        order.append(panel->Header);
        for (TUpdateLabel* entry : panel->Entries())
            order.append(entry);
    }
    order << reBeschreibung << BitBtn1 << BitBtn2;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TfrmUpdateBenachrichtigung::FitListWidth()
{
    int needed = Scaled(*this, GroupWidth);
    const int chrome = cpgUpdates->verticalScrollBar()->sizeHint().width() + 2 * cpgUpdates->frameWidth();
    for (TCategoryPanel* panel : Panels()) {
        if (const auto* header = dynamic_cast<const TPanelHeader*>(panel->Header))
            needed = std::max(needed, header->CaptionWidth() + chrome);
    }
    // The description keeps at least half of the dialog.
    const int limit =
        std::max(Scaled(*this, GroupWidth), std::min(Scaled(*this, MaximumGroupWidth), width() / 2));
    cpgUpdates->setFixedWidth(std::min(needed, limit));
}

void TfrmUpdateBenachrichtigung::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    // Every showing starts afresh: no description of an earlier list, the first entry selected
    // and focused, so that the keyboard starts in the list and its description follows the focus.
    reBeschreibung->clear();
    FShownTag = -1;
    cpgUpdates->verticalScrollBar()->setValue(0);
    const QList<TCategoryPanel*> panels = Panels();
    if (!panels.isEmpty() && !panels.first()->Entries().isEmpty()) {
        TUpdateLabel* first = panels.first()->Entries().first();
        MarkCurrent(first->Tag());
        first->setFocus(Qt::ActiveWindowFocusReason);
    }
}

void TfrmUpdateBenachrichtigung::ClearPanels()
{
    const QList<TCategoryPanel*> panels = Panels();
    for (auto it = panels.crbegin(); it != panels.crend(); ++it)
        delete *it;
}

void TfrmUpdateBenachrichtigung::Initialize(const TUpdates& Updates)
{
    FUpdates = &Updates;
    FdictLabelUpdateID.clear();
    // The same tag names another update now; the description shown stays until an entry of
    // the new list is passed over.
    FShownTag = -1;
    ClearPanels();

    for (const TUpdateListPanel& group : GroupUpdateList(Updates)) {
        auto* panel = new TCategoryPanel(group.Modulbezeichnung, FPanelStack);
        FPanelLayout->insertWidget(FPanelLayout->count() - 1, panel);
        panel->Header->installEventFilter(this);
        // Closing the panel that holds the list's Tab stop leaves the stop on its header.
        connect(panel->Header, &QToolButton::toggled, this, [this, panel](bool open) {
            if (!open && FListStop != nullptr && panel->Body->isAncestorOf(FListStop))
                SetListStop(panel->Header);
        });
        for (const TUpdateListEntry& entry : group.Entries) {
            TUpdateLabel* label = panel->AddEntry(entry.Text, entry.Tag);
            connect(label, &TUpdateLabel::PointerMoved, this,
                    &TfrmUpdateBenachrichtigung::UpdateLabelMouseMove);
            label->installEventFilter(this);
            FdictLabelUpdateID.insert(entry.Tag, entry.Key);
        }
    }

    // The licence row stays hidden: no update brings licence terms the user has to accept here.
    Panel2->setFixedHeight(0);
    Panel2->hide();

    for (TCategoryPanel* panel : Panels()) {
        panel->SetExpanded(false);
        panel->SetExpanded(true);
    }
    cpgUpdates->verticalScrollBar()->setValue(0);
    const QList<TCategoryPanel*> panels = Panels();
    if (!panels.isEmpty() && !panels.first()->Entries().isEmpty()) {
        MarkCurrent(panels.first()->Entries().first()->Tag());
        SetListStop(panels.first()->Entries().first());
    } else if (!panels.isEmpty()) {
        SetListStop(panels.first()->Header);
    }
    UpdateTabOrder();
    FitListWidth();
}

void TfrmUpdateBenachrichtigung::UpdateLabelMouseMove(int tag)
{
    MarkCurrent(tag);
    if (tag == FShownTag)
        return;
    // Marked before loading, so that a failing file gives one message per entry passed over
    // rather than one per pixel of movement.
    FShownTag = tag;
    reBeschreibung->clear();
    const auto key = FdictLabelUpdateID.constFind(tag);
    if (FUpdates == nullptr || key == FdictLabelUpdateID.cend())
        return;
    try {
        const QString html = LoadUpdateDescriptionHtml(*FUpdates, *key);
        reBeschreibung->clear();
        reBeschreibung->setHtml(html);
        const auto node = FUpdates->UpdateDictionary().find(*key);
        FLizenzURL = node != FUpdates->UpdateDictionary().end() && node->second ? node->second->LizenzURL()
                                                                                : QString();
    } catch (const EVorlandtError& e) {
        ShowError(e.message());
    } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
    }
}

void TfrmUpdateBenachrichtigung::BitBtn1Click()
{
    done(1);
}

void TfrmUpdateBenachrichtigung::reject()
{
    done(2);
}

void TfrmUpdateBenachrichtigung::CheckBox1Click()
{
    BitBtn1->setEnabled(CheckBox1->isChecked());
}

void TfrmUpdateBenachrichtigung::JvLabel1Click()
{
    OpenLink(FLizenzURL);
}

void TfrmUpdateBenachrichtigung::reBeschreibungURLClick(const QUrl& url)
{
    OpenLink(url.toString(QUrl::FullyEncoded));
}

void TfrmUpdateBenachrichtigung::OpenLink(const QString& address)
{
    // Descriptions and licence addresses come from the download server: what they link to must
    // never start a program or open a local file on this machine.
    if (!MayOpenUpdateLink(address)) {
        WriteLog(TLogAction::AppendLine,
                 QStringLiteral("TfrmUpdateBenachrichtigung - Link nicht geöffnet: ") + address);
        return;
    }
    try {
        OpenAddressOrShow(this, address);
    } catch (const EVorlandtError& e) {
        ShowError(e.message());
    }
}

void TfrmUpdateBenachrichtigung::ShowError(const QString& message)
{
    MessageDialog(message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
}

void TfrmUpdateBenachrichtigung::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    reBeschreibung->viewport()->update();
}

bool TfrmUpdateBenachrichtigung::eventFilter(QObject* watched, QEvent* event)
{
    // Whatever part of the list has the focus is where Tab comes back to.
    if (event->type() == QEvent::FocusIn && watched != JvLabel1 && watched != this) {
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget != nullptr && cpgUpdates->isAncestorOf(widget))
            SetListStop(widget);
    }
    if (event->type() == QEvent::KeyPress && watched != JvLabel1) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (widget != nullptr && key->modifiers() == Qt::NoModifier) {
            // Left closes a panel from its header or goes up to the header from an entry, Right
            // opens it; the other arrows move through headers and entries.
            for (TCategoryPanel* panel : Panels()) {
                // As in a tree: Right on an open header goes to its first entry.
                if (widget == panel->Header && key->key() == Qt::Key_Right && panel->Expanded() &&
                    !panel->Entries().isEmpty()) {
                    panel->Entries().first()->setFocus(Qt::TabFocusReason);
                    cpgUpdates->ensureWidgetVisible(panel->Entries().first(), 0, 0);
                    return true;
                }
                if (widget == panel->Header && (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right)) {
                    panel->SetExpanded(key->key() == Qt::Key_Right);
                    return true;
                }
                if (panel->Body->isAncestorOf(widget) && key->key() == Qt::Key_Left) {
                    panel->Header->setFocus(Qt::BacktabFocusReason);
                    return true;
                }
            }
            if (NavigateFrom(widget, key->key()))
                return true;
        }
    }
    if (watched == JvLabel1) {
        switch (event->type()) {
            case QEvent::Enter:
            case QEvent::Leave: {
                QFont font = JvLabel1->font();
                font.setUnderline(event->type() == QEvent::Enter);
                JvLabel1->setFont(font);
                break;
            }
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                    JvLabel1->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
                    JvLabel1Click();
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

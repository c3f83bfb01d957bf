// The update notification dialog.
#include "gui/UpdateBenachrichtigung.h"

#include "gui/TrackingControls.h"

#include "core/catalog/UpdateList.h"
#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"

#include <QCheckBox>
#include <QEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

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

// The hot-light colour: what a hot-tracked entry and the licence link take under the pointer.
QColor HotLight(const QWidget* widget)
{
    return widget->palette().color(QPalette::Link);
}

// A themed panel header: the caption on the left, a grey double chevron on the right that
// points up while the panel is open (a click closes it) and down while it is closed.
class TPanelHeader : public QToolButton {
public:
    TPanelHeader(const QString& caption, QWidget* parent) : QToolButton(parent)
    {
        setText(caption);
        setCheckable(true);
        setFixedHeight(HeaderHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
    }

protected:
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
                         QFontMetrics(captionFont).elidedText(text(), Qt::ElideRight, textArea.width()));

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
    }
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
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    adjustSize();
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

TCategoryPanel::TCategoryPanel(const QString& caption, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Header = new TPanelHeader(caption, this);
    Header->setChecked(true);
    // The header is drawn as a button but belongs to the panel, which has no caption: a click on
    // it must not send the module's name as the caption of a control.
    TrackAsPartOfParent(Header);
    Body = new QWidget(this);
    Body->setFixedHeight(BodyBaseHeight);
    layout->addWidget(Header);
    layout->addWidget(Body);
    connect(Header, &QToolButton::toggled, Body, &QWidget::setVisible);
}

QString TCategoryPanel::Caption() const
{
    return Header->text();
}

bool TCategoryPanel::Expanded() const
{
    return Header->isChecked();
}

void TCategoryPanel::SetExpanded(bool expanded)
{
    Header->setChecked(expanded);
    Body->setVisible(expanded);
}

TUpdateLabel* TCategoryPanel::AddEntry(const QString& text, int tag)
{
    auto* label = new TUpdateLabel(text, tag, Body);
    label->setObjectName(QStringLiteral("UpdateLabel%1").arg(tag));
    label->move(EntryLeft, EntryTop + EntryRow * FEntries.size());
    FEntries.append(label);
    Body->setFixedHeight(BodyBaseHeight + EntryRow * FEntries.size());
    return label;
}

TfrmUpdateBenachrichtigung::TfrmUpdateBenachrichtigung(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint)
{
    setObjectName(QStringLiteral("frmUpdateBenachrichtigung"));
    setWindowTitle(QStringLiteral("Vorlandt Online-Updates"));
    // Where Tahoma is missing the font database substitutes the closest face.
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    resize(ClientSize);
    setMinimumSize(MinimumClientSize);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);

    Panel1 = RowPanel(this, QStringLiteral("Panel1"));
    auto* upper = new QHBoxLayout(Panel1);
    upper->setContentsMargins(PanelMargin, PanelMargin, PanelMargin, PanelMargin);
    upper->setSpacing(0);

    cpgUpdates = new QScrollArea(Panel1);
    cpgUpdates->setObjectName(QStringLiteral("cpgUpdates"));
    cpgUpdates->setFixedWidth(GroupWidth);
    cpgUpdates->setWidgetResizable(true);
    cpgUpdates->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cpgUpdates->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // One wheel line moves the list by one entry row.
    cpgUpdates->verticalScrollBar()->setSingleStep(EntryRow);
    FPanelStack = new QWidget(cpgUpdates);
    FPanelStack->setObjectName(QStringLiteral("cpgUpdatesPanels"));
    FPanelLayout = new QVBoxLayout(FPanelStack);
    FPanelLayout->setContentsMargins(0, 0, 0, 0);
    FPanelLayout->setSpacing(1);
    FPanelLayout->addStretch(1);
    cpgUpdates->setWidget(FPanelStack);

    reBeschreibung = new QTextBrowser(Panel1);
    reBeschreibung->setObjectName(QStringLiteral("reBeschreibung"));
    reBeschreibung->setReadOnly(true);
    reBeschreibung->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reBeschreibung->setFocusPolicy(Qt::NoFocus);
    // Links are opened by us alone, never followed inside the browser.
    reBeschreibung->setOpenLinks(false);
    reBeschreibung->setOpenExternalLinks(false);
    connect(reBeschreibung, &QTextBrowser::anchorClicked, this,
            &TfrmUpdateBenachrichtigung::reBeschreibungURLClick);

    upper->addWidget(cpgUpdates);
    upper->addWidget(reBeschreibung, 1);

    Panel2 = RowPanel(this, QStringLiteral("Panel2"));
    Panel2->setFixedHeight(LicenceRowHeight);
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
    Panel3->setFixedHeight(ButtonRowHeight);
    auto* buttons = new QHBoxLayout(Panel3);
    buttons->setContentsMargins(PanelMargin + 2, 0, PanelMargin + 2, 0);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("Keine Updates durchführen"), Panel3);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("Updates installieren"), Panel3);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    for (QPushButton* button : {BitBtn1, BitBtn2})
        button->setMinimumWidth(button->sizeHint().width() + 16);
    buttons->addWidget(BitBtn2, 0, Qt::AlignLeft | Qt::AlignVCenter);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1, 0, Qt::AlignRight | Qt::AlignVCenter);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmUpdateBenachrichtigung::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, [this] { done(2); });

    form->addWidget(Panel1, 1);
    form->addWidget(Panel2);
    form->addWidget(Panel3);

    setTabOrder(BitBtn1, BitBtn2);
    BitBtn1->setFocus();
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
        for (const TUpdateListEntry& entry : group.Entries) {
            TUpdateLabel* label = panel->AddEntry(entry.Text, entry.Tag);
            connect(label, &TUpdateLabel::PointerMoved, this,
                    &TfrmUpdateBenachrichtigung::UpdateLabelMouseMove);
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
}

void TfrmUpdateBenachrichtigung::UpdateLabelMouseMove(int tag)
{
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
        StartEXE(this, address, QString(), false);
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

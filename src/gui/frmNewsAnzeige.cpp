// The news window.
#include "gui/frmNewsAnzeige.h"

#include "core/news/NewsItem.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "gui/Application.h"
#include "gui/FocusOutline.h"
#include "gui/OpenAddress.h"
#include "gui/PictureButton.h"
#include "gui/RichTextAccessible.h"
#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QFont>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QShowEvent>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace {

// The layout, in pixels of the client area.
constexpr QSize ClientSize(559, 477);
constexpr QRect Panel2Rect(8, 7, 545, 64);
constexpr QSize ImageSize(253, 64);
constexpr QPoint Label1Pos(8, 45);
constexpr QPoint NewsDatePos(106, 45);
constexpr QRect NewsRect(8, 74, 545, 365);
constexpr QPoint ChoicePos(8, 447);
constexpr int ChoiceWidth = 508;
constexpr QRect CloseRect(521, 442, 31, 30);

// The header picture: a speech bubble with the word for news, drawn here so that the window
// needs no image file.
QPixmap HeaderPicture()
{
    QPixmap picture(ImageSize);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF bubble(96.5, 6.5, 150, 44);
    QPainterPath path;
    path.addRoundedRect(bubble, 10, 10);
    QPainterPath tail;
    tail.moveTo(bubble.left() + 22, bubble.bottom() - 1);
    tail.lineTo(bubble.left() + 14, bubble.bottom() + 11);
    tail.lineTo(bubble.left() + 38, bubble.bottom() - 1);
    tail.closeSubpath();
    path = path.united(tail);

    QLinearGradient fill(bubble.topLeft(), bubble.bottomLeft());
    fill.setColorAt(0, QColor(0x3C, 0x8D, 0xD8));
    fill.setColorAt(1, QColor(0x1B, 0x4F, 0x8F));
    painter.setPen(QPen(QColor(0x14, 0x3C, 0x6E), 1));
    painter.setBrush(fill);
    painter.drawPath(path);

    // An exclamation mark in a white disc on the bubble's left.
    const QRectF disc(bubble.left() + 8, bubble.top() + 8, 28, 28);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(disc);
    painter.setBrush(QColor(0x1B, 0x4F, 0x8F));
    painter.drawRoundedRect(QRectF(disc.center().x() - 2, disc.top() + 5, 4, 12), 2, 2);
    painter.drawEllipse(QPointF(disc.center().x(), disc.bottom() - 6), 2.3, 2.3);

    const QString word = QStringLiteral("Neuigkeiten");
    const QRectF textRect(disc.right() + 6, bubble.top(), bubble.right() - disc.right() - 12,
                          bubble.height());
    QFont font(QStringLiteral("Calibri"), 1);
    font.setBold(true);
    // A substitute for Calibri may run wider: the word shrinks until it fits the bubble.
    for (int pixels = 19; pixels > 8; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetricsF(font).horizontalAdvance(word) <= textRect.width())
            break;
    }
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, word);
    return picture;
}

// The close button's glyph: a cross in the text colour.
QIcon CloseGlyph(const QColor& color)
{
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    return QIcon(glyph);
}

QFrame* WhitePanel(QWidget* parent, const QString& name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::white);
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
    return panel;
}

QLabel* HeaderLabel(QWidget* parent, const QString& name, const QString& text, const QPoint& position)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setFont(WindowFont(12, QStringLiteral("Calibri")));
    label->move(position);
    label->adjustSize();
    return label;
}

// Qt names a drop-down list by its current item, so a screen reader hears a value without
// knowing what it decides. This one is named by what it decides and keeps its item as value.
class TNamedChoiceAccessible : public QAccessibleWidget {
public:
    explicit TNamedChoiceAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return Choice()->currentText();
        return QAccessibleWidget::text(t);
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& actionName) override
    {
        if (actionName == showMenuAction())
            Choice()->showPopup();
        else
            QAccessibleWidget::doAction(actionName);
    }

private:
    QComboBox* Choice() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* NamedChoiceFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TNamedChoiceBox") && object != nullptr && object->isWidgetType())
        return new TNamedChoiceAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

// The drop-down list of the choice, a class of its own so that screen readers get the interface
// above instead of Qt's.
class TNamedChoiceBox : public QComboBox {
    Q_OBJECT
public:
    explicit TNamedChoiceBox(QWidget* parent) : QComboBox(parent)
    {
        static const bool factoryInstalled = [] {
            QAccessible::installFactory(NamedChoiceFactory);
            return true;
        }();
        Q_UNUSED(factoryInstalled);
        // With a screen reader running, Qt may have made its own interface while the box was
        // being built (a QComboBox then): it goes, so that the next question gets the one above.
        if (QAccessible::isActive()) {
            QAccessibleInterface* made = QAccessible::queryAccessibleInterface(this);
            if (made != nullptr && dynamic_cast<TNamedChoiceAccessible*>(made) == nullptr)
                QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
        }
    }
};

// A news item comes from the maker's server: what it links to must never start a program or
// open a local file on this machine, so only web and mail addresses are handed on.
bool MayOpen(const QUrl& url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return !url.host().isEmpty();
    return scheme == QLatin1String("mailto");
}

// Some mail programs attach a local file named in a mail address ("?attach=..."); only the
// fields that fill in a message survive.
QUrl WithoutMailAttachments(const QUrl& url)
{
    if (url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) != 0 || !url.hasQuery())
        return url;
    const QUrlQuery query(url);
    QUrlQuery kept;
    for (const auto& [key, value] : query.queryItems(QUrl::FullyEncoded)) {
        const QString field = key.toLower();
        if (field == QLatin1String("subject") || field == QLatin1String("body") ||
            field == QLatin1String("cc") || field == QLatin1String("bcc") || field == QLatin1String("to"))
            kept.addQueryItem(key, value);
    }
    QUrl result = url;
    // A null query removes the "?" as well.
    result.setQuery(kept.isEmpty() ? QString() : kept.query(QUrl::FullyEncoded));
    return result;
}

}  // namespace

TfrmNewsAnzeige::TfrmNewsAnzeige(const TNewsView& news, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      FNews(news),
      FChoice(news.DefaultChoice)
{
    setObjectName(QStringLiteral("frmNewsAnzeige"));
    setWindowTitle(QStringLiteral("Es gibt Neuigkeiten!"));
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());
    // The pixels below are those of the usual font resolution; a larger one enlarges the window
    // with its text. Where the screen is smaller, the news text gives up height and width and
    // scrolls.
    const QSize wanted = Scaled(*this, ClientSize);
    const QSize client = CapToScreen(*this, wanted);
    const int narrower = wanted.width() - client.width();
    const int lower = wanted.height() - client.height();
    setFixedSize(client);

    Panel1 = WhitePanel(this, QStringLiteral("Panel1"));
    Panel1->setGeometry(QRect(QPoint(0, 0), client));

    Panel2 = WhitePanel(Panel1, QStringLiteral("Panel2"));
    Panel2->setGeometry(Scaled(*this, Panel2Rect).adjusted(0, 0, -narrower, 0));

    const QSize imageSize = Scaled(*this, ImageSize);
    Image1 = new QLabel(Panel2);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(QRect(QPoint(Panel2->width() - imageSize.width(), 0), imageSize));
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(HeaderPicture());

    Label1 = HeaderLabel(Panel2, QStringLiteral("Label1"), QStringLiteral("Neuigkeit vom"),
                         Scaled(*this, QRect(Label1Pos, QSize())).topLeft());
    lbNewsDatum = HeaderLabel(Panel2, QStringLiteral("lbNewsDatum"), TNewsItem::EmptyNewsDate,
                              Scaled(*this, QRect(NewsDatePos, QSize())).topLeft());
    FNewsDatePos = lbNewsDatum->pos();
    PlaceNewsDate();

    reNews = new QTextBrowser(Panel1);
    ExposeLinks(reNews);
    reNews->setObjectName(QStringLiteral("reNews"));
    reNews->setGeometry(Scaled(*this, NewsRect).adjusted(0, 0, -narrower, -lower));
    reNews->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    reNews->setFont(WindowFont());
    reNews->setAccessibleName(QStringLiteral("Text der Neuigkeit"));
    // Read with the keyboard too: the arrows scroll, Tab moves through the links and Enter opens
    // the one selected.
    reNews->setFocusPolicy(Qt::StrongFocus);
    reNews->setTextInteractionFlags(Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard);
    ShowFocusOutline(reNews);
    // Links are opened by us alone, never followed inside the browser.
    reNews->setOpenLinks(false);
    reNews->setOpenExternalLinks(false);
    connect(reNews, &QTextBrowser::anchorClicked, this, &TfrmNewsAnzeige::reNewsURLClick);

    cbErneutZeigen = new TNamedChoiceBox(Panel1);
    cbErneutZeigen->setObjectName(QStringLiteral("cbErneutZeigen"));
    cbErneutZeigen->setEditable(false);
    cbErneutZeigen->addItems(FNews.Choices);
    cbErneutZeigen->setCurrentIndex(FNews.DefaultChoice);
    // The choice has no label on the screen: its name says what it decides, its value which
    // choice is made.
    cbErneutZeigen->setAccessibleName(QStringLiteral("Diese Neuigkeit erneut anzeigen"));
    cbErneutZeigen->setGeometry(
        QRect(Scaled(*this, QRect(ChoicePos, QSize())).topLeft() - QPoint(0, lower),
              QSize(Scaled(*this, ChoiceWidth) - narrower, cbErneutZeigen->sizeHint().height())));

    btnSchliessen = new TPictureButton(Panel1);
    btnSchliessen->setObjectName(QStringLiteral("btnSchliessen"));
    btnSchliessen->setGeometry(Scaled(*this, CloseRect).translated(-narrower, -lower));
    btnSchliessen->setIcon(CloseGlyph(palette().color(QPalette::ButtonText)));
    btnSchliessen->setIconSize(Scaled(*this, QSize(16, 16)));
    btnSchliessen->setToolTip(QStringLiteral("Schließen"));
    btnSchliessen->setAccessibleName(btnSchliessen->toolTip());
    connect(btnSchliessen, &QToolButton::clicked, this, &QDialog::close);

    setTabOrder(reNews, cbErneutZeigen);
    setTabOrder(cbErneutZeigen, btnSchliessen);
    cbErneutZeigen->setFocus();

    SetUpWindowKeys(this, NewsHelpContext);
    // The window's size stays; where the window system places it partly off the screen, it moves.
    HoldOnScreen(*this);
}

void TfrmNewsAnzeige::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmNewsAnzeige::FormShow()
{
    reNews->setHtml(FNews.Html);
    lbNewsDatum->setText(FNews.Datum);
    PlaceNewsDate();
}

void TfrmNewsAnzeige::PlaceNewsDate()
{
    lbNewsDatum->adjustSize();
    // Where a substitute for Calibri makes "Neuigkeit vom" wider, the date moves to its right
    // instead of writing over it.
    const int afterLabel = Label1->geometry().right() + 1 + Label1->fontMetrics().horizontalAdvance(u' ');
    lbNewsDatum->move(std::max(FNewsDatePos.x(), afterLabel), FNewsDatePos.y());
}

void TfrmNewsAnzeige::done(int result)
{
    if (!FClosed) {
        FClosed = true;
        FChoice = cbErneutZeigen->currentIndex();
    }
    QDialog::done(result);
}

void TfrmNewsAnzeige::reNewsURLClick(const QUrl& url)
{
    if (!MayOpen(url)) {
        WriteLog(TLogAction::AppendLine,
                 QStringLiteral("reNewsURLClick - Link nicht geöffnet: ") + url.toString());
        return;
    }
    try {
        const QString address = WithoutMailAttachments(url).toString(QUrl::FullyEncoded);
        OpenAddressOrShow(this, address);
    } catch (const EVorlandtError& e) {
        MessageDialog(e.message(), TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
    }
}

#include "frmNewsAnzeige.moc"

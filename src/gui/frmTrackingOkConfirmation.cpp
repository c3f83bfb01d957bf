// The consent question of the usage tracking.
#include "gui/frmTrackingOkConfirmation.h"

#include "core/services/FrontEnd.h"
#include "gui/Application.h"
#include "gui/FocusOutline.h"
#include "gui/ScreenFit.h"
#include "gui/WindowKeys.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The layout, in pixels of the client area.
constexpr QSize ClientSize(520, 502);
constexpr QRect LetterRect(8, 8, 504, 382);
// Small enough for any sans-serif substitute of Tahoma, large enough to read.
constexpr qreal MinimumLetterPointSize = 6.5;
constexpr QRect DecisionRect(8, 396, 504, 67);
constexpr QRect CloseRect(415, 469, 99, 25);

// The OK button's glyph: a green tick, drawn here so that the dialog needs no image file.
QIcon TickGlyph()
{
    QPixmap glyph(16, 16);
    glyph.fill(Qt::transparent);
    QPainter painter(&glyph);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2.5, 8.5);
    tick.lineTo(6.5, 12.5);
    tick.lineTo(13.5, 3.5);
    painter.setPen(QPen(QColor(0x1E, 0x8C, 0x2E), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(tick);
    return QIcon(glyph);
}

}  // namespace

QStringList TfrmTrackingOkConfirmation::LetterLines()
{
    // Trailing blanks are part of the letter as it was written.
    return {
        QStringLiteral("Sehr geehrter Vorlandt-Software-Anwender,"),
        QString(),
        QStringLiteral("wir bei Vorlandt arbeiten ständig daran, Sie mit unseren Softwareprodukten in Ihrer "
                       "täglichen "),
        QStringLiteral("Arbeit optimal zu unterstützen.   "),
        QString(),
        QStringLiteral(
            "Um unseren Service noch weiter zu verbessern, bitten wir Sie jetzt um Ihre Mithilfe."),
        QString(),
        QStringLiteral("Mit Ihrer Erlaubnis möchten wir die Nutzung unserer Software analysieren - "
                       "selbstverständlich völlig "),
        QStringLiteral("anonym!"),
        QString(),
        QStringLiteral(
            "Dazu erstellen die Vorlandt-Anwendungen zusammenfassende anonymisierte Statistiken und "),
        QStringLiteral(
            "Fehlerreports. Diese enthalten keinerlei von Ihnen getätigte Eingaben, sondern dienen "
            "lediglich "),
        QStringLiteral("dazu, die Bedienung der Vorlandt-Software zu analysieren."),
        QStringLiteral(
            "Damit helfen Sie uns, die Anwendungen noch besser zu machen und künftige Features noch "),
        QStringLiteral("zielgerichteter zu entwickeln. "),
        QString(),
        QStringLiteral(
            "Es werden ausschließlich nicht personenbezogene Daten erhoben. Es ist technisch nicht "
            "möglich, sie "),
        QStringLiteral("einem Nutzer zuzuordnen."),
        QString(),
        QStringLiteral(
            "Bitte helfen Sie mit, indem Sie \"Ja, ich möchte helfen, die Software zu verbessern\" "
            "aktivieren."),
        QString(),
        QStringLiteral("Diese Option können Sie jederzeit nachträglich in den Programmeinstellungen (Punkt "),
        QStringLiteral("\"Automatisierungseinstellungen\") ändern."),
        QString(),
        QStringLiteral("Vielen Dank, dass Sie uns helfen, Ihre Anwendungen zu verbessern."),
        QString(),
        QString(),
        QStringLiteral("Ihr Vorlandt-Software-Team"),
    };
}

TfrmTrackingOkConfirmation::TfrmTrackingOkConfirmation(QWidget* parent)
    // A title bar without any buttons: the only way out is a choice and OK. It is asked before
    // any other window of the program is on the screen, so it cannot be minimised either:
    // nothing would be left to bring it back. It is not kept above other windows, which would
    // hide the box that asks for a choice.
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmTrackingOkConfirmation"));
    setWindowTitle(QStringLiteral("Wir bitten um Ihre Mithilfe"));
    setWindowModality(Qt::ApplicationModal);
    // Tahoma 8 beside the usual desktop font, larger beside a larger one.
    setFont(WindowFont());
    // The pixels below are those of the usual font resolution; a larger one enlarges the dialog
    // with its text. Where the screen is smaller, the letter gives up height and scrolls.
    const QSize wanted = Scaled(*this, ClientSize);
    const QSize client = CapToScreen(*this, wanted);
    const int narrower = wanted.width() - client.width();
    const int lower = wanted.height() - client.height();
    setFixedSize(client);

    redtTrackingOk = new QTextEdit(this);
    redtTrackingOk->setObjectName(QStringLiteral("redtTrackingOk"));
    redtTrackingOk->setAccessibleName(QStringLiteral("Anschreiben"));
    redtTrackingOk->setGeometry(Scaled(*this, LetterRect).adjusted(0, 0, -narrower, -lower));
    redtTrackingOk->setFont(WindowFont());
    redtTrackingOk->setReadOnly(true);
    // The letter is read with the keyboard as well: a caret and an outline show where the focus
    // is, the arrows scroll.
    redtTrackingOk->setFocusPolicy(Qt::StrongFocus);
    redtTrackingOk->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    ShowFocusOutline(redtTrackingOk);
    redtTrackingOk->setLineWrapMode(QTextEdit::WidgetWidth);
    redtTrackingOk->setPlainText(LetterLines().join(u'\n'));
    FitLetterFont();

    rgDecision = new QGroupBox(QStringLiteral(" "), this);
    rgDecision->setObjectName(QStringLiteral("rgDecision"));
    // The caption on the screen is a blank; a screen reader names the question it answers.
    rgDecision->setAccessibleName(QStringLiteral("Ihre Antwort"));
    rgDecision->setGeometry(Scaled(*this, DecisionRect).translated(0, -lower).adjusted(0, 0, -narrower, 0));
    QFont bold = font();
    bold.setBold(true);
    rgDecision->setFont(bold);
    auto* items = new QVBoxLayout(rgDecision);
    items->setContentsMargins(Scaled(*this, 8), Scaled(*this, 4), Scaled(*this, 8), Scaled(*this, 4));
    items->setSpacing(Scaled(*this, 2));
    auto* group = new QButtonGroup(rgDecision);
    group->setExclusive(true);
    for (const QString& text : {QStringLiteral("Ja, ich möchte helfen, die Software zu verbessern."),
                                QStringLiteral("Nein, ich möchte nicht helfen.")}) {
        auto* item = new QRadioButton(text, rgDecision);
        item->setObjectName(QStringLiteral("rgDecisionItem%1").arg(rgDecisionItems.size()));
        items->addWidget(item);
        group->addButton(item, int(rgDecisionItems.size()));
        item->installEventFilter(this);
        rgDecisionItems << item;
    }

    btnClose = new QPushButton(TickGlyph(), QStringLiteral("OK"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    SetCaptionWithAccessKey(btnClose, QStringLiteral("OK"), u'O');
    btnClose->setGeometry(Scaled(*this, CloseRect).translated(-narrower, -lower));
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &TfrmTrackingOkConfirmation::btnCloseClick);

    setTabOrder(redtTrackingOk, rgDecisionItems.first());
    setTabOrder(rgDecisionItems.first(), rgDecisionItems.last());
    setTabOrder(rgDecisionItems.last(), btnClose);

    SetUpWindowKeys(this, ConsentHelpContext);
    // The size stays; where the window system places the dialog partly off the screen, it moves.
    HoldOnScreen(*this);
}

int TfrmTrackingOkConfirmation::ItemIndex() const
{
    for (int i = 0; i < rgDecisionItems.size(); ++i) {
        if (rgDecisionItems[i]->isChecked())
            return i;
    }
    return -1;
}

bool TfrmTrackingOkConfirmation::TrackingOk()
{
    FZustimmungErteilt = false;
    const QPointer<TfrmTrackingOkConfirmation> alive(this);
    exec();
    return !alive.isNull() && FZustimmungErteilt;
}

void TfrmTrackingOkConfirmation::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TfrmTrackingOkConfirmation::FormShow()
{
    if (parentWidget() == nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), size() + FrameExtent(*this));
            frame.moveCenter(screen->availableGeometry().center());
            MoveFrameTo(*this, frame.topLeft());
        }
    } else {
        CentreOverOwnerWindow(*this);
        MoveOntoScreen(*this);
    }
    // The keyboard starts at the question: Space or an arrow chooses, Enter then confirms. Nothing
    // is chosen by the focus alone.
    rgDecisionItems.first()->setFocus(Qt::ActiveWindowFocusReason);
}

bool TfrmTrackingOkConfirmation::eventFilter(QObject* watched, QEvent* event)
{
    // The arrows move to the other answer and choose it, also while none is chosen yet (Qt's
    // own handling only moves the focus then), so that Enter afterwards takes the answer seen.
    if (event->type() == QEvent::KeyPress) {
        const qsizetype at = rgDecisionItems.indexOf(qobject_cast<QRadioButton*>(watched));
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool forward = key == Qt::Key_Down || key == Qt::Key_Right;
        const bool back = key == Qt::Key_Up || key == Qt::Key_Left;
        if (at >= 0 && (forward || back)) {
            const qsizetype count = rgDecisionItems.size();
            QRadioButton* next = rgDecisionItems[(at + (forward ? 1 : count - 1)) % count];
            next->setFocus(Qt::TabFocusReason);
            next->setChecked(true);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmTrackingOkConfirmation::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // A window manager that offers minimising anyway must not make the question vanish.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
}

void TfrmTrackingOkConfirmation::btnCloseClick()
{
    const int index = ItemIndex();
    if (index < 0) {
        MessageDialog(QStringLiteral("Bitte wählen Sie eine der Antworten aus."), TMsgDlgType::mtInformation,
                      TMsgDlgButtons::mbOK, 0);
        return;
    }
    FZustimmungErteilt = index == 0;
    done(QDialog::Accepted);
}

void TfrmTrackingOkConfirmation::FitLetterFont()
{
    // The letter's lines were broken for Tahoma. A wider substitute face would break most of them
    // a second time, leaving a ragged letter, so its font shrinks a little until the longest line
    // fits beside the scroll bar.
    const int room = redtTrackingOk->width() - 2 * redtTrackingOk->frameWidth() -
                     redtTrackingOk->verticalScrollBar()->sizeHint().width() -
                     2 * static_cast<int>(redtTrackingOk->document()->documentMargin()) - 2;
    QFont letterFont = redtTrackingOk->font();
    const auto longest = [&] {
        const QFontMetrics metrics(letterFont);
        int width = 0;
        for (const QString& line : LetterLines())
            width = std::max(width, metrics.horizontalAdvance(line));
        return width;
    };
    while (longest() > room && letterFont.pointSizeF() > MinimumLetterPointSize * DesktopFontScale())
        letterFont.setPointSizeF(letterFont.pointSizeF() - 0.25);
    redtTrackingOk->setFont(letterFont);
}

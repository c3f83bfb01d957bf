// The accessible text of the rich-text panes and their links.
#include "gui/RichTextAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>
#include <QWindow>

#include <algorithm>

namespace {

constexpr char HypertextProperty[] = "vorlandtHypertext";

struct TLinkRange {
    int Start = 0;
    int End = 0;
    QString Href;
    QString Text;
};

// The links of `document` in reading order; neighbouring pieces of one link are one link.
QList<TLinkRange> LinkRanges(const QTextDocument& document)
{
    QList<TLinkRange> links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || !fragment.charFormat().isAnchor())
                continue;
            const QString href = fragment.charFormat().anchorHref();
            if (href.isEmpty())
                continue;
            if (!links.isEmpty() && links.last().End == fragment.position() && links.last().Href == href) {
                links.last().End += fragment.length();
                links.last().Text += fragment.text();
                continue;
            }
            links.append(
                {fragment.position(), fragment.position() + fragment.length(), href, fragment.text()});
        }
    }
    return links;
}

// The rectangle on the screen that the characters from `start` to `end` take, on the first line.
QRect ScreenRect(const QTextBrowser& pane, int start, int end)
{
    QTextCursor cursor(pane.document());
    cursor.setPosition(start);
    QRect first = pane.cursorRect(cursor);
    cursor.setPosition(std::max(start, end));
    const QRect last = pane.cursorRect(cursor);
    if (last.top() == first.top() && last.left() > first.left())
        first.setRight(last.left() - 1);
    return QRect(pane.viewport()->mapToGlobal(first.topLeft()), first.size());
}

class TLinkAccessible : public QAccessibleInterface,
                        public QAccessibleActionInterface,
                        public QAccessibleHyperlinkInterface {
public:
    TLinkAccessible(QTextBrowser* pane, const TLinkRange& link) : FPane(pane), FLink(link) {}

    bool isValid() const override { return !FPane.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return FPane ? FPane->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override
    {
        return FPane ? QAccessible::queryAccessibleInterface(FPane.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
            case QAccessible::Name:
                return FLink.Text.trimmed().isEmpty() ? FLink.Href : FLink.Text;
            case QAccessible::Description:
            case QAccessible::Value:
                return FLink.Href;
            default:
                return QString();
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return FPane ? ScreenRect(*FPane, FLink.Start, FLink.End) : QRect(); }
    QAccessible::Role role() const override { return QAccessible::Link; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!FPane) {
            state.invalid = true;
            return state;
        }
        state.linked = true;
        state.focusable = (FPane->textInteractionFlags() & Qt::LinksAccessibleByKeyboard) != 0;
        const QTextCursor cursor = FPane->textCursor();
        state.focused =
            FPane->hasFocus() && cursor.selectionStart() == FLink.Start && cursor.selectionEnd() == FLink.End;
        const QRect visible(FPane->viewport()->mapToGlobal(QPoint(0, 0)), FPane->viewport()->size());
        state.offscreen = !visible.intersects(rect());
        state.invisible = !FPane->isVisible();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::HyperlinkInterface)
            return static_cast<QAccessibleHyperlinkInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& actionName) override
    {
        if (!FPane)
            return;
        if (actionName == setFocusAction()) {
            // Where Tab puts it: the link selected in the pane, which then has the focus.
            QTextCursor cursor(FPane->document());
            cursor.setPosition(FLink.Start);
            cursor.setPosition(FLink.End, QTextCursor::KeepAnchor);
            FPane->setTextCursor(cursor);
            FPane->setFocus(Qt::OtherFocusReason);
        } else if (actionName == pressAction()) {
            // The same way as a click: the window's handler decides what may open.
            Q_EMIT FPane->anchorClicked(QUrl(FLink.Href));
        }
    }

    QString anchor() const override { return FLink.Text; }
    QString anchorTarget() const override { return FLink.Href; }
    int startIndex() const override { return FLink.Start; }
    int endIndex() const override { return FLink.End; }

private:
    QPointer<QTextBrowser> FPane;
    TLinkRange FLink;
};

class TRichTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TRichTextAccessible(QTextBrowser* pane) : QAccessibleWidget(pane, QAccessible::EditableText)
    {
        // The links are looked up afresh after every change of the text.
        FWatch = QObject::connect(pane->document(), &QTextDocument::contentsChanged, pane,
                                  [this] { FLinksKnown = false; });
    }

    ~TRichTextAccessible() override
    {
        QObject::disconnect(FWatch);
        ForgetLinks();
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.editable = false;
        state.multiLine = true;
        state.selectableText = true;
        return state;
    }

    // ---- children: the links first, then Qt's own parts (the scroll bars)
    int childCount() const override { return int(Links().size()) + QAccessibleWidget::childCount(); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QAccessible::Id>& links = Links();
        if (index >= 0 && index < links.size())
            return QAccessible::accessibleInterface(links[index]);
        return QAccessibleWidget::child(index - int(links.size()));
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const QList<QAccessible::Id>& links = Links();
        for (qsizetype i = 0; i < links.size(); ++i) {
            if (QAccessible::accessibleInterface(links[i]) == child)
                return int(i);
        }
        const int index = QAccessibleWidget::indexOfChild(child);
        return index < 0 ? -1 : index + int(links.size());
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (const QAccessible::Id id : Links()) {
            QAccessibleInterface* link = QAccessible::accessibleInterface(id);
            if (link != nullptr && link->rect().contains(x, y))
                return link;
        }
        return QAccessibleWidget::childAt(x, y);
    }

    QAccessibleInterface* focusChild() const override
    {
        for (const QAccessible::Id id : Links()) {
            QAccessibleInterface* link = QAccessible::accessibleInterface(id);
            if (link != nullptr && link->state().focused)
                return link;
        }
        return nullptr;
    }

    // ---- the text
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        const QTextCursor cursor = Pane()->textCursor();
        if (selectionIndex == 0 && cursor.hasSelection()) {
            *startOffset = cursor.selectionStart();
            *endOffset = cursor.selectionEnd();
        }
    }
    int selectionCount() const override { return Pane()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex != 0)
            return;
        QTextCursor cursor = Pane()->textCursor();
        cursor.clearSelection();
        Pane()->setTextCursor(cursor);
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex != 0)
            return;
        QTextCursor cursor(Pane()->document());
        cursor.setPosition(Clamped(startOffset));
        cursor.setPosition(Clamped(endOffset), QTextCursor::KeepAnchor);
        Pane()->setTextCursor(cursor);
    }
    int cursorPosition() const override { return Pane()->textCursor().position(); }
    void setCursorPosition(int position) override
    {
        QTextCursor cursor(Pane()->document());
        cursor.setPosition(Clamped(position));
        Pane()->setTextCursor(cursor);
    }
    QString text(int startOffset, int endOffset) const override
    {
        const QString all = Pane()->document()->toPlainText();
        startOffset = std::clamp(startOffset, 0, int(all.size()));
        endOffset = std::clamp(endOffset, startOffset, int(all.size()));
        return all.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return std::max(0, Pane()->document()->characterCount() - 1); }
    QRect characterRect(int offset) const override
    {
        offset = Clamped(offset);
        return ScreenRect(*Pane(), offset, std::min(offset + 1, characterCount()));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint inside = Pane()->viewport()->mapFromGlobal(point);
        if (!Pane()->viewport()->rect().contains(inside))
            return -1;
        return Pane()->cursorForPosition(inside).position();
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        setSelection(0, startIndex, endIndex);
        Pane()->ensureCursorVisible();
    }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        Q_UNUSED(offset);
        *startOffset = 0;
        *endOffset = characterCount();
        return QString();
    }

    // Only for the QAccessibleWidget part, which asks for the text under these names.
    QString text(QAccessible::Text t) const override { return QAccessibleWidget::text(t); }

private:
    QTextBrowser* Pane() const { return static_cast<QTextBrowser*>(widget()); }
    int Clamped(int offset) const { return std::clamp(offset, 0, characterCount()); }

    const QList<QAccessible::Id>& Links() const
    {
        if (!FLinksKnown) {
            ForgetLinks();
            for (const TLinkRange& link : LinkRanges(*Pane()->document()))
                FLinks.append(QAccessible::registerAccessibleInterface(new TLinkAccessible(Pane(), link)));
            FLinksKnown = true;
        }
        return FLinks;
    }

    void ForgetLinks() const
    {
        for (const QAccessible::Id id : std::as_const(FLinks))
            QAccessible::deleteAccessibleInterface(id);
        FLinks.clear();
    }

    QMetaObject::Connection FWatch;
    mutable QList<QAccessible::Id> FLinks;
    mutable bool FLinksKnown = false;
};

QAccessibleInterface* RichTextFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("QTextBrowser") && object != nullptr &&
        object->property(HypertextProperty).toBool())
        return new TRichTextAccessible(static_cast<QTextBrowser*>(object));
    return nullptr;
}

}  // namespace

void ExposeLinks(QTextBrowser* pane)
{
    static const bool installed = [] {
        QAccessible::installFactory(RichTextFactory);
        return true;
    }();
    Q_UNUSED(installed);
    pane->setProperty(HypertextProperty, true);
    // With a screen reader running, Qt may have made its own interface for the pane while it was
    // being built: it goes, so that the next question gets this one.
    if (QAccessible::isActive()) {
        QAccessibleInterface* made = QAccessible::queryAccessibleInterface(pane);
        if (made != nullptr && dynamic_cast<TRichTextAccessible*>(made) == nullptr)
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

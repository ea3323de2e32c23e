#include "reply/ReplyBoxAccessible.h"

#include "reply/ReplyBox.h"
#include "reply/ReplyGlyphs.h"
#include "reply/ReplyLinks.h"

#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace {
// Words never need more text around an offset than this to be found.
constexpr qsizetype kStretch = 8192;

int toInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, -1, INT_MAX));
}

// What stands for the further bytes of a UTF-8 character: silent, and joined
// to the character before it when text is split into characters and words.
constexpr char16_t kJoiner = 0x200D;

char16_t shownCode(char32_t code)
{
    return code <= 0xFF ? ReplyGlyphs::spoken(uchar(code)) : char16_t(code);
}

// The accessible text of the bytes [from, to): one unit per byte, so offsets
// stay positions in the record. A byte that is a character of its own is
// that character; a character of several bytes is itself at its first byte
// (two units when outside the BMP) and silent joiners after it, and so is
// the rest of one that a note split.
QString shownText(const ReplyText& model, qsizetype from, qsizetype to)
{
    QString text(to - from, Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    ReplyText::Chars chars = model.chars(from);
    ReplyText::Char ch;
    char16_t units[4];
    while (chars.next(ch, to)) {
        const qsizetype len = ch.end - ch.position;
        if (!ch.multiByte) {
            units[0] = ReplyGlyphs::spoken(uchar(ch.code));
        } else if (ch.waiting) {
            std::fill(units, units + len, char16_t(0xFFFD));
        } else {
            std::fill(units, units + len, kJoiner);
            if (ch.width == 0) {
                // The rest of a split character: joiners only.
            } else if (QChar::requiresSurrogates(ch.code) && len >= 2) {
                units[0] = QChar::highSurrogate(ch.code);
                units[1] = QChar::lowSurrogate(ch.code);
            } else {
                units[0] = shownCode(ch.code);
            }
        }
        for (qsizetype k = 0; k < len; ++k) {
            if (ch.position + k >= from && ch.position + k < to)
                *out++ = units[k];
        }
    }
    return text;
}

// A few lines of the text, handed to Qt's own rules for characters and words
// (those screen readers are tuned to) without copying the whole text.
class Stretch : public QAccessibleTextInterface
{
public:
    explicit Stretch(QString text) : m_text(std::move(text)) {}

    QString text(int startOffset, int endOffset) const override { return m_text.mid(startOffset, endOffset - startOffset); }
    int characterCount() const override { return int(m_text.size()); }
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int*, int*) const override { return {}; }

private:
    QString m_text;
};

ReplyBoxAccessible::Listener g_listener = nullptr;

// Only while someone listens is the text of a change worth copying.
bool someoneListens()
{
    return g_listener || QAccessible::isActive();
}

void send(QAccessibleEvent&& event)
{
    if (g_listener)
        g_listener(&event);
    else
        QAccessible::updateAccessibility(&event);
}

// Follows one box and turns its changes into accessibility events.
class Announcer : public QObject
{
public:
    explicit Announcer(ReplyBox* box) : QObject(box), m_box(box)
    {
        const ReplyText* model = &box->model();
        connect(model, &ReplyText::aboutToReplace, this, &Announcer::aboutToReplace);
        connect(model, &ReplyText::replaced, this, &Announcer::replaced);
        connect(model, &ReplyText::appended, this, &Announcer::appended);
        connect(model, &ReplyText::dropped, this, &Announcer::dropped);
        connect(box, &ReplyBox::selectionChanged, this, &Announcer::selectionChanged);
    }

private:
    QString shown(qsizetype from, qsizetype length) const
    {
        return shownText(m_box->model(), from, from + std::min<qsizetype>(length, ReplyBoxAccessible::kMaxTextLength));
    }

    void aboutToReplace()
    {
        m_removed = someoneListens() ? shown(0, m_box->length()) : QString();
    }

    void replaced()
    {
        const QString removed = std::exchange(m_removed, QString());
        if (!someoneListens())
            return;
        if (!removed.isEmpty())
            send(QAccessibleTextRemoveEvent(m_box, 0, removed));
        if (m_box->length() > 0)
            send(QAccessibleTextInsertEvent(m_box, 0, shown(0, m_box->length())));
    }

    void appended(qsizetype from, qsizetype length)
    {
        if (!someoneListens())
            return;
        QAccessibleTextInsertEvent event(m_box, toInt(from), shown(from, length));
        // New lines arrive behind the caret; it stays where the reader left it.
        event.setCursorPosition(toInt(m_box->caretPosition()));
        send(std::move(event));
    }

    // The oldest lines went past the bound; their text is gone, so the event carries
    // as many placeholders as characters left (up to the range bound).
    void dropped(qsizetype bytes, qsizetype)
    {
        if (!someoneListens())
            return;
        const qsizetype told = std::min<qsizetype>(bytes, ReplyBoxAccessible::kMaxTextLength);
        send(QAccessibleTextRemoveEvent(m_box, 0, QString(told, QChar::ReplacementCharacter)));
    }

    void selectionChanged()
    {
        const qsizetype caret = m_box->caretPosition();
        const qsizetype start = m_box->selStart();
        const qsizetype end = start + m_box->selLength();
        const bool caretMoved = caret != m_caret;
        const bool selectionMoved = start != m_start || end != m_end;
        m_caret = caret;
        m_start = start;
        m_end = end;
        if (!someoneListens())
            return;
        if (caretMoved)
            send(QAccessibleTextCursorEvent(m_box, toInt(caret)));
        if (selectionMoved) {
            QAccessibleTextSelectionEvent event(m_box, toInt(start), toInt(end));
            event.setCursorPosition(toInt(caret));
            send(std::move(event));
        }
    }

    ReplyBox* m_box;
    QString m_removed;
    qsizetype m_caret = 0;
    qsizetype m_start = 0;
    qsizetype m_end = 0;
};

QAccessibleInterface* replyBoxFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("ReplyBox")) {
        if (auto* box = qobject_cast<ReplyBox*>(object))
            return new ReplyBoxAccessible(box);
    }
    return nullptr;
}
} // namespace

// Editable text is what AT-SPI calls text; the read-only state says it cannot be edited.
ReplyBoxAccessible::ReplyBoxAccessible(ReplyBox* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

void ReplyBoxAccessible::watch(ReplyBox* box)
{
    static const bool installed = [] {
        QAccessible::installFactory(replyBoxFactory);
        return true;
    }();
    Q_UNUSED(installed);
    new Announcer(box);
}

ReplyBoxAccessible::Listener ReplyBoxAccessible::setListener(Listener listener)
{
    return std::exchange(g_listener, listener);
}

ReplyBox* ReplyBoxAccessible::box() const
{
    return static_cast<ReplyBox*>(widget());
}

QAccessible::State ReplyBoxAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

void* ReplyBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString ReplyBoxAccessible::text(int startOffset, int endOffset) const
{
    const qsizetype length = box()->length();
    const qsizetype from = std::clamp<qsizetype>(startOffset, 0, length);
    const qsizetype to = endOffset < 0 ? length : std::clamp<qsizetype>(endOffset, from, length);
    return shownText(box()->model(), from, std::min(to, from + kMaxTextLength));
}

int ReplyBoxAccessible::characterCount() const
{
    return toInt(box()->length());
}

// -2 asks at the caret and -1 at the end of the text; other offsets outside the text are none.
qsizetype ReplyBoxAccessible::resolveOffset(int offset) const
{
    if (offset == -2)
        return box()->caretPosition();
    if (offset == -1)
        return box()->length();
    return offset >= 0 && offset <= box()->length() ? offset : -1;
}

QString ReplyBoxAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                             int* startOffset, int* endOffset) const
{
    return stretchItem(resolveOffset(offset), Side::Before, boundaryType, startOffset, endOffset);
}

QString ReplyBoxAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const
{
    return stretchItem(resolveOffset(offset), Side::After, boundaryType, startOffset, endOffset);
}

QString ReplyBoxAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                         int* startOffset, int* endOffset) const
{
    return stretchItem(resolveOffset(offset), Side::At, boundaryType, startOffset, endOffset);
}

QString ReplyBoxAccessible::stretchItem(qsizetype offset, Side side, QAccessible::TextBoundaryType boundaryType,
                                        int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = -1;
    if (offset < 0)
        return {};
    switch (boundaryType) {
    case QAccessible::CharBoundary:
    case QAccessible::WordBoundary:
        break;
    case QAccessible::NoBoundary:
        *startOffset = 0;
        *endOffset = toInt(std::min<qsizetype>(box()->length(), kMaxTextLength));
        return text(0, *endOffset);
    default:
        // Sentences and paragraphs are lines here: a reply has no other structure.
        return lineItem(offset, side, startOffset, endOffset);
    }

    // The line before, the offset's and the one after, cut to kStretch either side.
    const ReplyText& model = box()->model();
    const qsizetype line = model.lineOf(offset);
    const qsizetype from = std::max(model.lineStart(std::max<qsizetype>(0, line - 1)), offset - kStretch);
    const qsizetype lineAfterNext = line + 2;
    const qsizetype to = std::min(lineAfterNext < model.lineCount() ? model.lineStart(lineAfterNext) : model.length(),
                                  offset + kStretch);
    const Stretch stretch(shownText(model, from, to));
    const int local = int(offset - from);
    QString item;
    if (side == Side::Before)
        item = stretch.textBeforeOffset(local, boundaryType, startOffset, endOffset);
    else if (side == Side::After)
        item = stretch.textAfterOffset(local, boundaryType, startOffset, endOffset);
    else
        item = stretch.textAtOffset(local, boundaryType, startOffset, endOffset);
    if (*startOffset >= 0 && *endOffset >= 0) {
        *startOffset += int(from);
        *endOffset += int(from);
    }
    return item;
}

QString ReplyBoxAccessible::lineItem(qsizetype offset, Side side, int* startOffset, int* endOffset) const
{
    const ReplyText& model = box()->model();
    const qsizetype line = model.lineOf(offset) + (side == Side::Before ? -1 : side == Side::After ? 1 : 0);
    if (line < 0 || line >= model.lineCount())
        return {};
    // A line with its line end, as readers expect it.
    qsizetype from = model.lineStart(line);
    qsizetype to = line + 1 < model.lineCount() ? model.lineStart(line + 1) : model.length();
    if (to - from > kMaxTextLength) {
        // A line longer than any answer: the piece around the offset, or the
        // end of the line before it, or the start of the line after it.
        const qsizetype around = side == Side::At ? offset - kMaxTextLength / 2 : side == Side::Before ? to : from;
        from = std::clamp(around, from, to - kMaxTextLength);
        to = from + kMaxTextLength;
    }
    *startOffset = toInt(from);
    *endOffset = toInt(to);
    return shownText(model, from, to);
}

QString ReplyBoxAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    // One look for the whole text but its links, which come as underlined runs naming their target.
    const qsizetype position = resolveOffset(offset);
    if (position < 0) {
        *startOffset = *endOffset = -1;
        return {};
    }
    const ReplyText& text = box()->model();
    const qsizetype line = text.lineOf(position);
    qsizetype from = text.lineStart(line);
    qsizetype to = line + 1 < text.lineCount() ? text.lineStart(line + 1) : text.length();
    if (text.lineEnd(line) - from > ReplyLinks::kWholeLine) {
        // Links in a huge line are looked for around the offset only.
        from = text.characterStart(std::max(from, position - ReplyLinks::kLongestLink));
        to = text.characterStart(std::min(to, position + ReplyLinks::kLongestLink));
    }
    for (const ReplyLinks::Link& link : ReplyLinks::inLine(text, line, from, to)) {
        if (link.from <= position && position < link.to) {
            *startOffset = toInt(link.from);
            *endOffset = toInt(link.to);
            // The attribute list splits at ':' and ';', so those two are escaped in the target.
            QString target = link.target;
            target.replace(u'%', QLatin1String("%25"))
                .replace(u':', QLatin1String("%3A"))
                .replace(u';', QLatin1String("%3B"));
            return QStringLiteral("underline:single;link:") + target + u';';
        }
        if (link.to <= position)
            from = link.to;
        else if (link.from > position) {
            to = link.from;
            break;
        }
    }
    *startOffset = toInt(from);
    *endOffset = toInt(std::max(to, position + 1));
    return {};
}

int ReplyBoxAccessible::cursorPosition() const
{
    return toInt(box()->caretPosition());
}

void ReplyBoxAccessible::setCursorPosition(int position)
{
    box()->setSelection(position, 0);
}

int ReplyBoxAccessible::selectionCount() const
{
    return box()->selLength() > 0 ? 1 : 0;
}

void ReplyBoxAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || box()->selLength() == 0)
        return;
    *startOffset = toInt(box()->selStart());
    *endOffset = toInt(box()->selStart() + box()->selLength());
}

void ReplyBoxAccessible::addSelection(int startOffset, int endOffset)
{
    // The box holds one selection: a new one replaces it.
    setSelection(0, startOffset, endOffset);
}

void ReplyBoxAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        box()->setSelection(box()->caretPosition(), 0);
}

void ReplyBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    if (endOffset < 0)
        endOffset = characterCount();
    box()->setSelection(startOffset, qsizetype(endOffset) - startOffset);
}

QRect ReplyBoxAccessible::characterRect(int offset) const
{
    const ReplyBox* view = box();
    const qsizetype position = resolveOffset(offset);
    if (position < 0)
        return {};
    const qsizetype line = view->lineOf(position);
    const qsizetype column = view->columnOf(position);
    // A tab to its stop, a wide character over its two cells.
    const qsizetype columns = position < view->lineEnd(line) ? std::max<qsizetype>(1, view->model().characterColumns(position, column)) : 1;
    const QRectF cell(view->cellPosition(line, column), QSizeF(columns * view->charWidth(), view->lineHeight()));
    return cell.toAlignedRect().translated(view->viewport()->mapToGlobal(QPoint(0, 0)));
}

int ReplyBoxAccessible::offsetAtPoint(const QPoint& point) const
{
    const ReplyBox* view = box();
    const QPoint local = view->viewport()->mapFromGlobal(point);
    if (!view->viewport()->rect().contains(local))
        return -1;
    const QPointF origin = view->cellPosition(0, 0);
    const auto line = static_cast<qsizetype>(std::floor((local.y() - origin.y()) / view->lineHeight()));
    if (line < 0 || line >= view->lineCount())
        return -1;
    const auto column = static_cast<qsizetype>(std::floor((local.x() - origin.x()) / view->charWidth()));
    return toInt(view->model().locateColumn(line, column).first);
}

void ReplyBoxAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Q_UNUSED(endIndex);
    ReplyBox* view = box();
    const qsizetype position = resolveOffset(startIndex);
    if (position < 0)
        return;
    // Bring the start into view, leaving the caret and selection alone.
    const qsizetype line = view->lineOf(position);
    const qsizetype column = view->columnOf(position);
    const qsizetype lines = std::max(1, view->viewport()->height() / view->lineHeight());
    const auto columns = std::max<qsizetype>(1, static_cast<qsizetype>(view->viewport()->width() / view->charWidth()));
    QScrollBar* vertical = view->verticalScrollBar();
    if (line < vertical->value() || line >= vertical->value() + lines)
        vertical->setValue(toInt(line));
    QScrollBar* horizontal = view->horizontalScrollBar();
    if (column < horizontal->value() || column >= horizontal->value() + columns)
        horizontal->setValue(toInt(column));
}

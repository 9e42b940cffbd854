#include "CLogEdit.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

bool BeyondLatin1(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return true;
    }
    return false;
}

// The component's own accessible object counts the characters from the start of the text at
// every caret move, a pause at every key in a log of many megabytes. Assistive technology
// gets it all the same; otherwise the box answers as a plain editable widget.
QAccessibleInterface* PlainAccessible(const QString& className, QObject* object)
{
    if (className != QLatin1String(CLogEdit::staticMetaObject.className()) || !object->isWidgetType() ||
        QAccessible::isActive())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::EditableText);
}

struct Match {
    std::size_t start;
    std::size_t end;
};

// A search that ignores case in UTF-8 text: each character of the needle may stand in the
// text as any of its case forms (lower, upper, title, folded), whatever their length in bytes.
class CharacterSearch {
public:
    explicit CharacterSearch(const QString& needle)
    {
        for (const char32_t c : needle.toUcs4()) {
            std::vector<std::string> forms;
            for (const char32_t form : {c, QChar::toLower(c), QChar::toUpper(c), QChar::toTitleCase(c),
                                        QChar::toCaseFolded(c)}) {
                const QByteArray utf8 = QString::fromUcs4(&form, 1).toUtf8();
                std::string bytes(utf8.constData(), static_cast<std::size_t>(utf8.size()));
                if (std::find(forms.begin(), forms.end(), bytes) == forms.end())
                    forms.push_back(std::move(bytes));
            }
            m_characters.push_back(std::move(forms));
        }
        // Only positions that start like the first character are tried.
        if (!m_characters.empty()) {
            for (const std::string& form : m_characters.front())
                m_firstByte[static_cast<unsigned char>(form.front())] = true;
        }
    }

    // The first match at or after `from`.
    Match Forward(std::string_view text, std::size_t from) const
    {
        for (std::size_t pos = from; pos < text.size(); ++pos) {
            if (const Match match = At(text, pos); match.end != std::string_view::npos)
                return match;
        }
        return {std::string_view::npos, std::string_view::npos};
    }

    // The last match that starts before `before`.
    Match Backward(std::string_view text, std::size_t before) const
    {
        for (std::size_t pos = std::min(before, text.size()); pos-- > 0;) {
            if (const Match match = At(text, pos); match.end != std::string_view::npos)
                return match;
        }
        return {std::string_view::npos, std::string_view::npos};
    }

private:
    Match At(std::string_view text, std::size_t pos) const
    {
        const Match none {std::string_view::npos, std::string_view::npos};
        if (m_characters.empty() || !m_firstByte[static_cast<unsigned char>(text[pos])])
            return none;
        std::size_t end = pos;
        for (const std::vector<std::string>& forms : m_characters) {
            const auto form = std::find_if(forms.begin(), forms.end(), [&](const std::string& f) {
                return text.substr(end).starts_with(f);
            });
            if (form == forms.end())
                return none;
            end += form->size();
        }
        return {pos, end};
    }

    std::vector<std::vector<std::string>> m_characters;
    std::array<bool, 256> m_firstByte {};
};

// Room kept free behind the text: typing then needs no new buffer, and neither does the
// one-piece view of the text that Save and Find take.
constexpr std::size_t kSpareBytes = 64 * 1024;

// A byte-to-byte folding table: identity with `matchCase`, otherwise upper-case letters
// (ASCII, and under Latin-1 its accented ones) as their lower-case ones.
std::array<unsigned char, 256> FoldTable(bool matchCase, LogEncoding encoding)
{
    std::array<unsigned char, 256> fold {};
    for (int b = 0; b < 256; ++b) {
        int folded = b;
        if (!matchCase && b >= 'A' && b <= 'Z')
            folded = b + 32;
        else if (!matchCase && encoding == LogEncoding::Latin1 && b >= 0xc0 && b <= 0xde && b != 0xd7)
            folded = b + 32;
        fold[static_cast<std::size_t>(b)] = static_cast<unsigned char>(folded);
    }
    return fold;
}

// Horspool's search over folded bytes, forward from `from` or backward from before `before`:
// a few bytes looked at per needle length, so a log of 100 MB takes milliseconds.
class FoldedSearch {
public:
    FoldedSearch(std::string_view needle, const std::array<unsigned char, 256>& fold) : m_fold(fold)
    {
        for (const char c : needle)
            m_needle.push_back(static_cast<char>(m_fold[static_cast<unsigned char>(c)]));
        const std::size_t m = m_needle.size();
        m_forward.fill(m);
        m_backward.fill(m);
        for (std::size_t i = 0; i + 1 < m; ++i)
            m_forward[static_cast<unsigned char>(m_needle[i])] = m - 1 - i;
        for (std::size_t i = m - 1; i > 0; --i)
            m_backward[static_cast<unsigned char>(m_needle[i])] = i;
    }

    // The first match at or after `from`.
    std::size_t Forward(std::string_view text, std::size_t from) const
    {
        const std::size_t m = m_needle.size();
        for (std::size_t pos = from; pos + m <= text.size();) {
            const unsigned char last = Fold(text[pos + m - 1]);
            if (last == static_cast<unsigned char>(m_needle[m - 1]) && Equal(text, pos, m - 1))
                return pos;
            pos += m_forward[last];
        }
        return std::string_view::npos;
    }

    // The last match that starts before `before`.
    std::size_t Backward(std::string_view text, std::size_t before) const
    {
        const std::size_t m = m_needle.size();
        if (before == 0 || text.size() < m)
            return std::string_view::npos;
        std::size_t pos = std::min(before - 1, text.size() - m);
        for (;;) {
            const unsigned char first = Fold(text[pos]);
            if (first == static_cast<unsigned char>(m_needle[0]) && Equal(text, pos, m))
                return pos;
            const std::size_t shift = m_backward[first];
            if (pos < shift)
                return std::string_view::npos;
            pos -= shift;
        }
    }

private:
    unsigned char Fold(char c) const { return m_fold[static_cast<unsigned char>(c)]; }
    bool Equal(std::string_view text, std::size_t pos, std::size_t count) const
    {
        for (std::size_t i = 0; i < count; ++i) {
            if (Fold(text[pos + i]) != static_cast<unsigned char>(m_needle[i]))
                return false;
        }
        return true;
    }

    const std::array<unsigned char, 256>& m_fold;
    std::string m_needle;
    std::array<std::size_t, 256> m_forward {};
    std::array<std::size_t, 256> m_backward {};
};

} // namespace

// The component's interface for filling a document that no view shows yet (its ILoader,
// declared here as the library's headers leave it out). Not in an anonymous namespace: the
// compiler would conclude that nothing implements it.
class CLogEdit::DocumentLoader {
public:
    virtual int Release() = 0;
    virtual int AddData(const char* data, std::ptrdiff_t length) = 0;
    virtual void* ConvertToDocument() = 0;

protected:
    ~DocumentLoader() = default;
};

CLogEdit::CLogEdit(QWidget* parent) : QsciScintillaBase(parent)
{
    static const bool accessibleInstalled = (QAccessible::installFactory(PlainAccessible), true);
    static_cast<void>(accessibleInstalled);
    // No notice of each insertion and deletion: nothing here needs them, and the component
    // would hand every one to the accessibility layer with the characters counted from the
    // start of the text.
    SendScintilla(SCI_SETMODEVENTMASK, 0L);
    SendScintilla(SCI_SETPASTECONVERTENDINGS, 1L);
    // Keys that a plain edit box does not have and that would change the log unasked: cut,
    // delete, copy or swap lines (Ctrl+L, Ctrl+Shift+L, Ctrl+Shift+T, Ctrl+T), duplicate
    // (Ctrl+D) and change case (Ctrl+U, Ctrl+Shift+U).
    const std::pair<int, int> strayKeys[] = {{'L', SCMOD_CTRL}, {'L', SCMOD_CTRL | SCMOD_SHIFT},
                                             {'T', SCMOD_CTRL | SCMOD_SHIFT}, {'T', SCMOD_CTRL},
                                             {'D', SCMOD_CTRL}, {'U', SCMOD_CTRL},
                                             {'U', SCMOD_CTRL | SCMOD_SHIFT}};
    for (const auto& [key, modifiers] : strayKeys)
        SendScintilla(SCI_CLEARCMDKEY, static_cast<unsigned long>(key) | (static_cast<unsigned long>(modifiers) << 16));
    SendScintilla(SCI_SETWRAPMODE, long{SC_WRAP_NONE});
    for (unsigned long margin = 0; margin < 5; ++margin)
        SendScintilla(SCI_SETMARGINWIDTHN, margin, 0L);
    // The horizontal range follows the widest line shown so far, as in an edit box.
    SendScintilla(SCI_SETSCROLLWIDTH, 1L);
    SendScintilla(SCI_SETSCROLLWIDTHTRACKING, 1L);
    // The right-click menu of an edit box: Undo, Redo, Cut, Copy, Paste, Delete, Select All.
    SendScintilla(SCI_USEPOPUP, long{SC_POPUP_ALL});
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameShape(QFrame::StyledPanel);
    ApplyLook();
    SetBytes({});
}

void CLogEdit::ApplyLook()
{
    const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QPalette& colours = palette();
    const QByteArray family = font.family().toUtf8();
    SendScintilla(SCI_STYLESETFONT, static_cast<unsigned long>(STYLE_DEFAULT), family.constData());
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    SendScintilla(SCI_STYLESETSIZEFRACTIONAL, static_cast<unsigned long>(STYLE_DEFAULT),
                  static_cast<long>(points * double{SC_FONT_SIZE_MULTIPLIER}));
    SendScintilla(SCI_STYLESETFORE, static_cast<unsigned long>(STYLE_DEFAULT), colours.color(QPalette::Text));
    SendScintilla(SCI_STYLESETBACK, static_cast<unsigned long>(STYLE_DEFAULT), colours.color(QPalette::Base));
    SendScintilla(SCI_STYLECLEARALL);
    SendScintilla(SCI_SETSELFORE, 1UL, colours.color(QPalette::HighlightedText));
    SendScintilla(SCI_SETSELBACK, 1UL, colours.color(QPalette::Highlight));
    SendScintilla(SCI_SETCARETFORE, colours.color(QPalette::Text));
}

void CLogEdit::changeEvent(QEvent* event)
{
    QsciScintillaBase::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ApplyLook();
}

void CLogEdit::SetBytes(std::string_view bytes)
{
    Loading loading(*this, bytes.size());
    loading.Add(bytes);
    loading.Finish();
}

CLogEdit::Loading::Loading(CLogEdit& edit, std::size_t expected) : m_edit(edit)
{
    // A new document, filled before the view shows it: inserting into the shown one would
    // announce the whole text to the accessibility layer, which copies it into UTF-16. The
    // document has no style bytes (there are no colours to keep), so a large log costs its
    // own size and a little for the line index; its buffer is allocated once, with room to
    // spare.
    const long created = m_edit.SendScintilla(SCI_CREATELOADER, static_cast<unsigned long>(expected + kSpareBytes),
                                              long{SC_DOCUMENTOPTION_STYLES_NONE});
    m_loader = reinterpret_cast<DocumentLoader*>(created);
    if (m_loader == nullptr)
        throw std::bad_alloc();
}

// The loader's dynamic type is the component's own class, which its headers do not declare,
// so the sanitizer's check of the dynamic type cannot know it matches DocumentLoader: the
// members that call through it are left out of that check.
__attribute__((no_sanitize("vptr"))) CLogEdit::Loading::~Loading()
{
    if (m_loader != nullptr)
        m_loader->Release();
}

__attribute__((no_sanitize("vptr"))) void CLogEdit::Loading::Add(std::string_view bytes)
{
    if (m_bCut || bytes.empty())
        return;
    if (const std::size_t zero = bytes.find('\0'); zero != std::string_view::npos) {
        bytes = bytes.substr(0, zero);
        m_bCut = true;
    }
    m_utf8.Add(bytes);
    if (!bytes.empty() && m_loader->AddData(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size())) != SC_STATUS_OK)
        throw std::bad_alloc();
    m_length += bytes.size();
}

__attribute__((no_sanitize("vptr"))) void CLogEdit::Loading::Finish()
{
    void* document = m_loader->ConvertToDocument();
    m_loader = nullptr;
    m_edit.m_encoding = m_utf8.Valid() ? LogEncoding::Utf8 : LogEncoding::Latin1;
    m_edit.SendScintilla(SCI_SETDOCPOINTER, 0UL, document);
    m_edit.SendScintilla(SCI_RELEASEDOCUMENT, 0UL, document);

    // What belongs to the document rather than to the view.
    m_edit.SendScintilla(SCI_SETCODEPAGE, m_edit.m_encoding == LogEncoding::Utf8 ? long{SC_CP_UTF8} : 0L);
    m_edit.SendScintilla(SCI_SETEOLMODE, long{SC_EOL_CRLF});
    // Tab stops every eight characters (where a dialog's edit box puts them: 32 dialog units).
    m_edit.SendScintilla(SCI_SETTABWIDTH, 8L);
    // Nothing to colour: all of it counts as done, or the first paint far down the text would
    // first go through every byte before it.
    m_edit.SendScintilla(SCI_STARTSTYLING, 0L);
    m_edit.SendScintilla(SCI_SETSTYLING, static_cast<unsigned long>(m_length), 0L);
    m_edit.SendScintilla(SCI_SETUNDOCOLLECTION, 1L);
    m_edit.SendScintilla(SCI_EMPTYUNDOBUFFER);
    m_edit.SendScintilla(SCI_SETSAVEPOINT);
    m_edit.SendScintilla(SCI_GOTOPOS, 0L);
}

void CLogEdit::AppendBytes(std::string_view bytes)
{
    if (bytes.empty())
        return;
    if (m_encoding == LogEncoding::Utf8 && !IsStrictUtf8(bytes)) {
        m_encoding = LogEncoding::Latin1;
        SendScintilla(SCI_SETCODEPAGE, 0L);
    }
    // Not an undo step: these are the monitor's entries, not the user's edit. Every step
    // recorded so far lies before them, so each still undoes exactly what it did.
    const bool undoing = SendScintilla(SCI_GETUNDOCOLLECTION) != 0;
    SendScintilla(SCI_SETUNDOCOLLECTION, 0L);
    SendScintilla(SCI_APPENDTEXT, static_cast<unsigned long>(bytes.size()), bytes.data());
    SendScintilla(SCI_SETUNDOCOLLECTION, undoing ? 1L : 0L);
}

std::string_view CLogEdit::Bytes() const
{
    const long length = SendScintilla(SCI_GETLENGTH);
    if (length <= 0)
        return {};
    // Makes the text one piece and hands out a pointer to it, without a copy.
    const auto* text = static_cast<const char*>(SendScintillaPtrResult(SCI_GETCHARACTERPOINTER));
    return {text, static_cast<std::size_t>(length)};
}

QString CLogEdit::Text() const
{
    const std::string_view bytes = Bytes();
    const auto size = static_cast<qsizetype>(bytes.size());
    return m_encoding == LogEncoding::Utf8 ? QString::fromUtf8(bytes.data(), size)
                                           : QString::fromLatin1(bytes.data(), size);
}

void CLogEdit::Clear()
{
    SetBytes({});
}

int CLogEdit::LineCount() const
{
    return static_cast<int>(SendScintilla(SCI_GETLINECOUNT));
}

FindOutcome CLogEdit::Find(const QString& text, bool forward, bool matchCase)
{
    if (text.isEmpty())
        return FindOutcome::NotFound;
    const std::string needle = EncodeText(text, m_encoding);
    const std::string_view bytes = Bytes();
    const auto selStart = static_cast<std::size_t>(SendScintilla(SCI_GETSELECTIONSTART));
    const auto selEnd = static_cast<std::size_t>(SendScintilla(SCI_GETSELECTIONEND));

    // Letters beyond ASCII in a UTF-8 text fold as whole characters, of varying length; all
    // else is a byte search with a folding table, the fastest on a large log.
    const bool unicodeFolding = !matchCase && m_encoding == LogEncoding::Utf8 &&
                                std::any_of(needle.begin(), needle.end(), [](char c) { return c & 0x80; });
    const auto fold = FoldTable(matchCase, m_encoding);
    const auto search = [&](bool wrapped) -> Match {
        const std::size_t from = wrapped ? (forward ? 0 : bytes.size()) : (forward ? selEnd : selStart);
        if (unicodeFolding) {
            const CharacterSearch characters(text);
            return forward ? characters.Forward(bytes, from) : characters.Backward(bytes, from);
        }
        const FoldedSearch folded(needle, fold);
        const std::size_t at = forward ? folded.Forward(bytes, from) : folded.Backward(bytes, from);
        return {at, at == std::string_view::npos ? at : at + needle.size()};
    };

    FindOutcome outcome = FindOutcome::Found;
    Match found = search(false);
    if (found.start == std::string_view::npos) {
        outcome = FindOutcome::Wrapped;
        found = search(true);
    }
    if (found.start == std::string_view::npos)
        return FindOutcome::NotFound;
    // Selected with the caret at the end, as a search leaves it; the view scrolls to it.
    SendScintilla(SCI_SETSEL, static_cast<unsigned long>(found.start), static_cast<long>(found.end));
    return outcome;
}

bool CLogEdit::focusNextPrevChild(bool next)
{
    // Tab moves between the controls, as everywhere else in a dialog.
    return QWidget::focusNextPrevChild(next);
}

void CLogEdit::keyPressEvent(QKeyEvent* event)
{
    // Esc belongs to the window (a dialog closes), as with any edit box.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->ignore();
        return;
    }
    // The component would turn what Latin-1 lacks into "?": such characters go in as UTF-8.
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (m_encoding == LogEncoding::Latin1 && !command && SendScintilla(SCI_GETREADONLY) == 0 && BeyondLatin1(event->text())) {
        const std::string bytes = EncodeText(event->text(), m_encoding);
        SendScintilla(SCI_REPLACESEL, bytes.c_str());
        event->accept();
        return;
    }
    QsciScintillaBase::keyPressEvent(event);
}

void CLogEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // As for keys: what Latin-1 lacks goes in as UTF-8 rather than as "?".
    if (m_encoding == LogEncoding::Latin1 && event->preeditString().isEmpty() &&
        BeyondLatin1(event->commitString()) && SendScintilla(SCI_GETREADONLY) == 0) {
        const std::string bytes = EncodeText(event->commitString(), m_encoding);
        SendScintilla(SCI_REPLACESEL, bytes.c_str());
        event->accept();
        return;
    }
    QsciScintillaBase::inputMethodEvent(event);
}

QByteArray CLogEdit::fromMimeData(const QMimeData* source, bool& rectangular) const
{
    QByteArray bytes = QsciScintillaBase::fromMimeData(source, rectangular);
    if (m_encoding == LogEncoding::Latin1 && source->hasText() && BeyondLatin1(source->text())) {
        const std::string encoded = EncodeText(source->text(), m_encoding);
        bytes = QByteArray(encoded.data(), static_cast<qsizetype>(encoded.size()));
    }
    return bytes;
}

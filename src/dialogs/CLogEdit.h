#pragma once
// The event log's text box: an editing component made for large texts, set up to look and
// behave like a plain multi-line edit box (no margins, no folding, no colours, the system's
// fixed-width font, no wrapping, both scroll bars, Tab moves on to the next control).
//
// The box holds the file's bytes themselves, not a decoded copy: what SetBytes() gets is
// what Bytes() gives back until the user types, whatever the bytes are (CR LF, a lone CR or
// LF, control bytes, invalid UTF-8). Valid UTF-8 is shown as UTF-8, anything else as Latin-1,
// one character per byte. Typed and pasted text goes in as UTF-8 with CR LF line breaks; in a
// Latin-1 text, characters that Latin-1 has go in as its single bytes, so that the file keeps
// one encoding for them.

#include "controls/CFindBar.h"
#include "dialogs/LogText.h"

#include <Qsci/qsciscintillabase.h>

#include <cstddef>
#include <string_view>

class CLogEdit : public QsciScintillaBase {
    Q_OBJECT
    class DocumentLoader;

public:
    explicit CLogEdit(QWidget* parent = nullptr);

    // Replaces the text with `bytes` up to their first zero byte; caret at the start, nothing
    // to undo.
    void SetBytes(std::string_view bytes);

    // SetBytes for bytes that come in pieces (a large log as it is read), so that they are
    // never held in one piece elsewhere. The pieces fill a new text that no view shows;
    // Finish() puts it in the box. Dropped unfinished, it leaves the box as it was. The
    // constructor and Add() throw std::bad_alloc when the text cannot be held.
    class Loading {
    public:
        // `expected`: how many bytes are likely to come, the room made for them at once.
        Loading(CLogEdit& edit, std::size_t expected);
        ~Loading();
        Loading(const Loading&) = delete;
        Loading& operator=(const Loading&) = delete;

        void Add(std::string_view bytes);
        void Finish();

    private:
        CLogEdit& m_edit;
        DocumentLoader* m_loader = nullptr;
        StrictUtf8Check m_utf8;
        std::size_t m_length = 0;
        bool m_bCut = false; // a zero byte came: the text ended there
    };

    // Adds `bytes` after the text, every byte of them, leaving the caret, the view and what
    // can be undone as they are (the text before them is untouched). The text is then read as
    // SetBytes would read the whole: a UTF-8 text that they make invalid turns to Latin-1.
    void AppendBytes(std::string_view bytes);

    // The text's bytes. Valid until the text changes.
    std::string_view Bytes() const;
    // The text as it is shown (tests and small texts: this copies the whole text).
    QString Text() const;
    LogEncoding Encoding() const { return m_encoding; }
    void Clear();
    int LineCount() const;

    // Selects and shows the next (or previous) occurrence of `text` after (or before) the
    // selection, going round at the end. Without `matchCase`, letters match either case.
    FindOutcome Find(const QString& text, bool forward, bool matchCase);

protected:
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void changeEvent(QEvent* event) override;
    QByteArray fromMimeData(const QMimeData* source, bool& rectangular) const override;

private:
    void ApplyLook();

    LogEncoding m_encoding = LogEncoding::Utf8;
};

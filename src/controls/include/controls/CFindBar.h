#pragma once
// A find bar for one searchable widget: a text field, Next and Previous, "Match case" (off:
// the search ignores case) and a line that says when the search went round or found nothing.
// The widget searched is behind a function, so the same bar serves the event log's text and
// the process list.
//
// Keys: Enter in the field and F3 find the next match, Shift+F3 the previous one, Esc closes
// the bar. F3 and Shift+F3 act anywhere in the bar's window (with nothing to look for they
// open the bar); Esc only while the bar shows, so that it never reaches the window itself
// (a dialog would close). The owner adds its own key or menu item that calls Open().

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

enum class FindOutcome {
    Found,    // a match between where the search started and the end (or the start)
    Wrapped,  // a match, after going round from the end to the start (or the other way)
    NotFound, // no match anywhere; the selection stays
};

class CFindBar : public QWidget {
    Q_OBJECT
public:
    // Looks for `text` from the current match or selection on, forward or backward, going
    // round at the end; selects and shows what it finds.
    using Finder = std::function<FindOutcome(const QString& text, bool forward, bool matchCase)>;

    // `parent` is the widget whose window the keys act in; `searched` gets the focus back when
    // the bar closes.
    CFindBar(Finder finder, QWidget* searched, QWidget* parent);

    // Shows the bar with the focus in the field and its text selected.
    void Open();
    // Hides the bar and gives the focus back to the searched widget.
    void Close();
    FindOutcome FindNext();
    FindOutcome FindPrevious();

    QLineEdit* m_text = nullptr;
    QPushButton* m_btnNext = nullptr;
    QPushButton* m_btnPrevious = nullptr;
    QCheckBox* m_matchCase = nullptr;
    QLabel* m_status = nullptr;
    QToolButton* m_btnClose = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    // F3 and Shift+F3 in `parent`'s window, Esc in the bar.
    void AddKeys(QWidget* parent);
    FindOutcome Find(bool forward);

    Finder m_finder;
    QWidget* m_searched;
};

#pragma once
// The disabled-process list dialog: shows the entries of the list, one line each in list
// order, and deletes them one at a time. Every deletion is made on the file at once (under its
// lock, so another copy's entries stay), so the dialog has nothing left to do however it is
// closed; a deletion that fails is told, and the lines show what the file holds. It cannot add
// entries. The lines are a view over a copy of the list (any length shows at once).

#include "platform/Result.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class DisabledEntriesModel;
class QGroupBox;
class QListView;
class QPushButton;

class CDListDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDListDlg(QWidget* parent = nullptr);

    // Set by the creator before the dialog is shown (the monitor's DisabledEntries and
    // RemoveDisabledAt): the entries in list order as the file holds them now, and the
    // deletion of the entry `name` shown at line `index`, which fails with the reason. m_path
    // is the list's file, named when a deletion fails.
    std::function<std::vector<std::string>()> m_readEntries;
    std::function<Result<>(std::size_t index, const std::string& name)> m_removeAt;
    std::string m_path;

    // Not sorted: line i is entry i, which OnDelete relies on.
    QListView* m_listBox = nullptr;
    QPushButton* m_btnDelete = nullptr;
    QPushButton* m_btnClose = nullptr;

public slots:
    void OnSelChange();
    void OnDelete();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnInitDialog();
    // Shows the list's entries as the file holds them now.
    void ShowEntries();

    QGroupBox* m_frame = nullptr;
    DisabledEntriesModel* m_model = nullptr;
    bool m_bInitialised = false;
};

#pragma once
// The disabled-process list dialog: shows the entries of the list, one line each in list
// order, and deletes them one at a time. Every deletion is saved at once, so the dialog has
// nothing left to do however it is closed. It cannot add entries.

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QGroupBox;
class QListWidget;
class QPushButton;

class CDListDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDListDlg(QWidget* parent = nullptr);

    // Set by the creator before the dialog is shown: the entries in list order, and the
    // deletion of entry i (which saves the list: the monitor's RemoveDisabledAt).
    std::vector<std::string> m_entries;
    std::function<void(std::size_t)> m_removeAt;

    // Not sorted: line i is entry i, which OnDelete relies on.
    QListWidget* m_listBox = nullptr;
    QPushButton* m_btnDelete = nullptr;
    QPushButton* m_btnClose = nullptr;

public slots:
    void OnSelChange();
    void OnDelete();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();

    QGroupBox* m_frame = nullptr;
    bool m_bInitialised = false;
};

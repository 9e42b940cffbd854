#pragma once
// The disabled-process list dialog: shows the entries of the list, one line each in list
// order, and deletes them one at a time. Every deletion is saved at once, so the dialog has
// nothing left to do however it is closed. It cannot add entries.

#include <QDialog>

#include <mutex>

class CDisabledList;
class QGroupBox;
class QListWidget;
class QPushButton;

class CDListDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDListDlg(QWidget* parent = nullptr);

    // Set by the creator before the dialog is shown; neither is owned. m_pLock, when set, is
    // the lock under which the monitor looks names up in the list.
    CDisabledList* m_pList = nullptr;
    std::mutex* m_pLock = nullptr;

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

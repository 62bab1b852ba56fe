#pragma once

#include <QDialog>

class QRadioButton;

// Asks how a dropped file is registered: a shortcut to it (0) or a copy of it (1).
class CEntryDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kShortcut = 0;
    static constexpr int kCopy = 1;

    explicit CEntryDlg(QWidget* parent = nullptr, int method = kShortcut);

    int method() const;

private:
    QRadioButton* m_shortcut;
    QRadioButton* m_copy;
};

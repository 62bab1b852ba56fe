#pragma once

#include <QDialog>

#include <string>

class CNodeInfo;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The modal dialog in which the user edits the own node's Skype ID, mail address and free
// text. "自動取得" takes the Skype ID the messaging client reports; it is enabled only while
// there is one. OK stores the edits in the target; cancel changes nothing.
class CNodePropatyDlg : public QDialog
{
    Q_OBJECT
public:
    // target may be nullptr (the boxes then start empty and OK stores nothing).
    CNodePropatyDlg(CNodeInfo* target, std::string autoSkypeId, QWidget* parent = nullptr);

    // Button 1067.
    void fetchSkypeId();

    QLineEdit& skypeIdEdit() { return *m_skypeId; }
    QLineEdit& mailEdit() { return *m_mail; }
    QPlainTextEdit& informationEdit() { return *m_information; }
    QPushButton& autoButton() { return *m_auto; }

public Q_SLOTS:
    // Refuses (with a message, the dialog stays open) a text that the published file could
    // not carry; otherwise stores the edits, the information cut to its first 1000 bytes.
    void accept() override;

private:
    void buildControls();

    QLineEdit* m_skypeId = nullptr;
    QLineEdit* m_mail = nullptr;
    QPushButton* m_auto = nullptr;
    QPlainTextEdit* m_information = nullptr;
    CNodeInfo* m_target;
    std::string m_autoSkypeId;
};

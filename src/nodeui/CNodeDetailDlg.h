#pragma once

#include "node/CNodeInfo.h"

#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// The node-information window's pane of one node's contact data: Skype ID, mail address (with
// a button that opens the mail program), the short fingerprint of its identity key (so that
// friends can compare it), neighbours, route and free text. It shows nothing
// until the window hands it a node.
class CNodeDetailDlg : public QWidget
{
    Q_OBJECT
public:
    // Opens a URL with the desktop's default handler; false when that failed.
    using UrlOpener = std::function<bool(const std::string& url)>;

    explicit CNodeDetailDlg(QWidget* parent = nullptr);

    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    // Takes a copy of info and shows it.
    void showInfo(const CNodeInfo& info);
    // True once a node has been handed over.
    bool hasNode() const { return m_hasNode; }
    const CNodeInfo& info() const { return m_info; }

    // Button "Mail-To".
    void mailTo();
    // The mail link of an address: the address is one path, so a "?" or "&" in it cannot add
    // headers or attachments to the message the mail program prepares.
    static std::string mailtoUrl(const std::string& address);

    QLabel& skypeIdLabel() { return *m_skypeId; }
    QLabel& mailLabel() { return *m_mail; }
    QLabel& keyLabel() { return *m_key; }
    QListWidget& neighbourList() { return *m_neighbours; }
    QListWidget& routeList() { return *m_route; }
    QPlainTextEdit& informationEdit() { return *m_information; }

private:
    void buildControls();
    void refresh();

    QLabel* m_skypeId = nullptr;
    QLabel* m_mail = nullptr;
    QLabel* m_key = nullptr;
    QPushButton* m_mailTo = nullptr;
    QListWidget* m_neighbours = nullptr;
    QListWidget* m_route = nullptr;
    QPlainTextEdit* m_information = nullptr;
    UrlOpener m_openUrl;
    bool m_hasNode = false;
    CNodeInfo m_info;
};

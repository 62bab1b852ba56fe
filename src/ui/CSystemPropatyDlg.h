#pragma once

#include "app/SystemPropertyRules.h"

#include <QDialog>

#include <string>

class CMultiCheck;
class ElidedLabel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The node's own settings: party name with its optional party key, node name (optionally the
// messaging client's own ID), expiry days, whether the window opens at start, and the TCP listen
// port; the send and receive folders are only shown. OK runs the checks in order and, last, takes
// the new party name in the instance guard, so a name another running node holds is refused.
class CSystemPropatyDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kWindowOpen = 0;
    static constexpr int kWindowClosed = 1;
    static constexpr int kMaxNodeName = SystemPropertyRules::kMaxNodeName;
    static constexpr int kMaxPartyName = SystemPropertyRules::kMaxPartyName;

    struct Values
    {
        std::string ownSkypeId; // the messaging client's user; empty until the link delivers it
        std::string nodeName;
        std::string partyName;
        int limitDay = 3;
        std::string sendFolder;
        std::string recvFolder;
        int window = kWindowOpen;
        int listenPort = 42000;
        // The party key: whether one is set, and whether the node is on line (the key is then
        // not changed). After OK: what to do with it, and the passphrase to derive it from.
        bool partyKeySet = false;
        bool online = false;
        enum class KeyChange
        {
            Keep,
            Set,
            Remove,
        } keyChange = KeyChange::Keep;
        std::string passphrase;
    };

    CSystemPropatyDlg(const Values& initial, CMultiCheck& guard, QWidget* parent = nullptr);
    // The passphrase read from the field is wiped with the dialog.
    ~CSystemPropatyDlg() override;

    // A line above the settings saying why the dialog opened (the first start).
    void setIntroduction(const std::string& text);

    // After OK: the values to apply.
    const Values& values() const { return m_values; }
    bool useSkypeId() const;

    struct Controls
    {
        QLineEdit* partyName = nullptr;
        QLineEdit* partyKey = nullptr;
        QCheckBox* showPartyKey = nullptr;
        QCheckBox* removePartyKey = nullptr;
        QPushButton* makePartyKey = nullptr; // "鍵を作る": a random key as a code to pass on
        QLabel* madeKey = nullptr;           // what to do with the made code
        QCheckBox* useSkypeId = nullptr;
        QLineEdit* nodeName = nullptr;
        QLineEdit* limitDay = nullptr;
        QRadioButton* windowOpen = nullptr;
        QRadioButton* windowClosed = nullptr;
        QCheckBox* changePort = nullptr;
        QSpinBox* port = nullptr;
        QPushButton* sendFolderButton = nullptr;
        ElidedLabel* sendFolder = nullptr;
        QPushButton* recvFolderButton = nullptr;
        ElidedLabel* recvFolder = nullptr;
        QLabel* introduction = nullptr; // hidden while empty
    };
    const Controls& controls() const { return m_ui; }

public Q_SLOTS:
    void accept() override;

private:
    void build();
    void onMakeKeyClicked();
    // Why the typed passphrase cannot be set (empty: it can).
    std::string passphraseProblem() const;
    QWidget* partyGroup();
    QWidget* nodeGroup();
    QWidget* limitGroup();
    QWidget* windowGroup();
    QWidget* portGroup();
    QWidget* folderGroup();
    void initialise();
    // Reads the controls; false with the message of the platform's field checks at the first
    // field that cannot be read (too long, not a number).
    bool readValues(QWidget** focus, std::string* message);
    void showValues();
    void onUseSkypeIdClicked();
    void onChangePortClicked();
    std::string check(QWidget** focus);
    QWidget* fieldWidget(SystemPropertyRules::Field field) const;

    Values m_values;
    CMultiCheck& m_guard;
    std::string m_initialParty;
    Controls m_ui;
};

#pragma once

#include "app/ConnectionRules.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

// The connection settings dialog: one configured peer, reached through the messaging client
// (a Skype ID chosen from the user's contacts) or over TCP (host, optional port, node name).
// The caller hands in the values of the row being edited; after OK, values() holds what the row
// is to become, with the port folded into the host text ("host/port").
class CDialogConnectMethod : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kSkype = 0;
    static constexpr int kTcp = 1;
    static constexpr int kMaxHostLength = 50;
    // Node names fill 32-byte CP932 fields with their terminating zero.
    static constexpr int kMaxNodeNameBytes = ConnectionRules::kMaxNodeNameBytes;

    struct Values
    {
        int method = kSkype;
        std::string skypeId;
        std::string host;
        std::string nodeName;
        std::string comment;
    };

    // The Skype IDs of the messaging client's contacts, asked again each time the list is shown.
    using ContactSource = std::function<std::vector<std::string>()>;

    CDialogConnectMethod(const Values& initial, ContactSource contacts, QWidget* parent = nullptr);

    const Values& values() const { return m_values; }
    int port() const;
    bool portFlag() const;

    // The controls, for the tests that play the user.
    struct Controls
    {
        QRadioButton* skype = nullptr;
        QRadioButton* tcp = nullptr;
        QGroupBox* skypeGroup = nullptr;
        QComboBox* skypeIds = nullptr;
        QGroupBox* tcpGroup = nullptr;
        QLineEdit* host = nullptr;
        QCheckBox* portFlag = nullptr;
        QSpinBox* port = nullptr;
        QLineEdit* nodeName = nullptr;
        QLineEdit* comment = nullptr;
    };
    const Controls& controls() const { return m_ui; }

public Q_SLOTS:
    // OK: the checks in order; the dialog stays open with a message at the first failure.
    void accept() override;

private:
    void build();
    void initialise();
    void readValues();
    void showValues();
    void enableForMethod();
    void fillContacts();
    void onMethodClicked();
    void onPortFlagClicked();
    // The first failed check's message, with the control that gets the focus; empty when the
    // values may be kept.
    std::string check(QWidget** focus) const;

    Values m_values;
    ContactSource m_contacts;
    Controls m_ui;
    QButtonGroup* m_method = nullptr;
};

#include "ui/CSystemPropatyDlg.h"

#include "app/CMultiCheck.h"
#include "app/CPropatyHotLine.h"
#include "app/PartyKeyMaker.h"
#include "platform/Prompt.h"
#include "ui/ElidedLabel.h"
#include "ui/Translations.h"

#include <QButtonGroup>
#include <QByteArray>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const char* const kNoSkypeId = "SkypeIdが未取得です。Skypeと接続しているか確認してください。";
const char* const kNotInteger = "整数を入力してください。";
const char* const kKeyOnline =
    "オンライン中はパーティ鍵を変更できません。オフラインにしてから設定してください。";
const char* const kKeyTooLong = "合言葉は%1バイト以内で入力してください。";
// Anyone who records one connection can try passphrases offline: a guessable one is refused.
const char* const kKeyWeak = "この合言葉は推測されやすいため設定できません（%1。推定%2ビット、"
                             "%3ビット以上が必要です）。「鍵を作る」で作った鍵を使ってください。";
const char* const kKeyMade = "作った鍵のコードです。パーティの他のメンバーに伝え、同じコードを"
                             "合言葉として設定してもらってください。";

const char* hintText(PartyKeyMaker::Hint hint)
{
    using H = PartyKeyMaker::Hint;
    switch (hint) {
    case H::Word:
        return "よく使われる単語や名前でできています";
    case H::Pattern:
        return "キーボードの並びでできています";
    case H::Sequence:
        return "abcdや1234のような連続を含みます";
    case H::Repeat:
        return "同じ文字の繰り返しを含みます";
    case H::Date:
        return "日付や年を含みます";
    case H::Short:
    case H::None:
        break;
    }
    return "短すぎます";
}

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

// A refusal in the interface's language, its values put in after the pattern is translated.
std::string message(const SystemPropertyRules::Refusal& refusal)
{
    return SystemPropertyRules::fill(ui::tr(refusal.pattern).toStdString(), refusal.args);
}

QGroupBox* group(const char* title, const char* explanation, QWidget* parent, QLayout* controls)
{
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    auto* text = new QLabel(QString::fromUtf8(explanation), box);
    text->setWordWrap(true);
    // A fixed width and the height the wrapped text needs at it: a label left to the layout is
    // laid out for one width and drawn at another, and clips its last lines.
    const int width = text->fontMetrics().horizontalAdvance(QStringLiteral("あ")) * 22;
    text->setFixedWidth(width);
    text->setMinimumHeight(text->heightForWidth(width));
    auto* layout = new QVBoxLayout(box);
    layout->addLayout(controls);
    layout->addWidget(text);
    return box;
}
} // namespace

void CSystemPropatyDlg::setIntroduction(const std::string& text)
{
    m_ui.introduction->setText(qs(text));
    m_ui.introduction->setVisible(!text.empty());
}

CSystemPropatyDlg::CSystemPropatyDlg(const Values& initial, CMultiCheck& guard, QWidget* parent)
    : QDialog(parent), m_values(initial), m_guard(guard), m_initialParty(initial.partyName)
{
    build();
    initialise();
}

bool CSystemPropatyDlg::useSkypeId() const
{
    return m_ui.useSkypeId->isChecked();
}

void CSystemPropatyDlg::build()
{
    setWindowTitle(QStringLiteral("システムプロパティ設定"));
    auto* grid = new QGridLayout;
    grid->addWidget(partyGroup(), 0, 0);
    grid->addWidget(nodeGroup(), 0, 1);
    grid->addWidget(limitGroup(), 1, 0);
    grid->addWidget(windowGroup(), 1, 1);
    // The folders get the whole width: long paths are elided, but as little as possible.
    grid->addWidget(portGroup(), 2, 0, 1, 2);
    grid->addWidget(folderGroup(), 3, 0, 1, 2);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSystemPropatyDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_ui.introduction = new QLabel(this);
    m_ui.introduction->setWordWrap(true);
    m_ui.introduction->setVisible(false);
    QFont bold = m_ui.introduction->font();
    bold.setBold(true);
    m_ui.introduction->setFont(bold);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_ui.introduction);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    connect(m_ui.useSkypeId, &QCheckBox::clicked, this, [this](bool) { onUseSkypeIdClicked(); });
    connect(m_ui.changePort, &QCheckBox::clicked, this, [this](bool) { onChangePortClicked(); });
}

QWidget* CSystemPropatyDlg::partyGroup()
{
    m_ui.partyName = new QLineEdit(this);
    auto* row = new QHBoxLayout;
    row->addWidget(m_ui.partyName);
    auto* nameBox =
        group("パーティ名",
              "パーティ名はネットワークの名前で、ネットワーク全体で共通です。パーティ名が"
              "異なるノードとは接続できません。全角9文字・半角18文字以内で設定してください。",
              this, row);

    m_ui.partyKey = new QLineEdit(this);
    m_ui.partyKey->setEchoMode(QLineEdit::Password);
    // A character is at least one byte: the byte limit itself is checked on OK.
    m_ui.partyKey->setMaxLength(static_cast<int>(PartyKeyMaker::kMaxPassphrase));
    m_ui.showPartyKey = new QCheckBox(QStringLiteral("表示"), this);
    m_ui.removePartyKey = new QCheckBox(QStringLiteral("鍵を消す"), this);
    m_ui.makePartyKey = new QPushButton(QStringLiteral("鍵を作る"), this);
    m_ui.madeKey = new QLabel(this);
    m_ui.madeKey->setWordWrap(true);
    m_ui.madeKey->setVisible(false);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(m_ui.partyKey);
    keyRow->addWidget(m_ui.makePartyKey);
    keyRow->addWidget(m_ui.showPartyKey);
    keyRow->addWidget(m_ui.removePartyKey);
    auto* keyRows = new QVBoxLayout;
    keyRows->addLayout(keyRow);
    keyRows->addWidget(m_ui.madeKey);
    auto* keyBox = group("パーティ鍵（合言葉）",
                         "合言葉を設定すると、TCP接続はすべて暗号化され、同じ合言葉を設定したノード"
                         "とだけ接続します。パーティの全ノードで同じ合言葉を設定してください。"
                         "空欄のままなら、これまでどおり暗号化しません。",
                         this, keyRows);
    connect(m_ui.showPartyKey, &QCheckBox::toggled, this, [this](bool on) {
        m_ui.partyKey->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password);
    });
    connect(m_ui.removePartyKey, &QCheckBox::toggled, this, [this](bool on) {
        m_ui.partyKey->setEnabled(!on && !m_values.online);
        m_ui.makePartyKey->setEnabled(!on && !m_values.online);
    });
    connect(m_ui.makePartyKey, &QPushButton::clicked, this, [this](bool) { onMakeKeyClicked(); });

    auto* both = new QWidget(this);
    auto* column = new QVBoxLayout(both);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(nameBox);
    column->addWidget(keyBox);
    return both;
}

QWidget* CSystemPropatyDlg::nodeGroup()
{
    m_ui.useSkypeId = new QCheckBox(QStringLiteral("ＳｋｙｐｅＩＤを使用する"), this);
    m_ui.nodeName = new QLineEdit(this);
    auto* rows = new QVBoxLayout;
    rows->addWidget(m_ui.useSkypeId);
    rows->addWidget(m_ui.nodeName);
    return group("ノード名",
                 "ノード名はネットワーク内でノードを識別する名前で、重複しないように設定して"
                 "ください。Skypeを使用する場合はSkypeIDを使用すると重複しません。全角15文字・"
                 "半角30文字以内で設定してください。",
                 this, rows);
}

QWidget* CSystemPropatyDlg::limitGroup()
{
    m_ui.limitDay = new QLineEdit(this);
    auto* row = new QHBoxLayout;
    row->addWidget(m_ui.limitDay);
    row->addWidget(new QLabel(QStringLiteral("日"), this));
    return group("有効期限", "登録したファイルの有効期限を日数で設定します。", this, row);
}

QWidget* CSystemPropatyDlg::windowGroup()
{
    m_ui.windowOpen = new QRadioButton(QStringLiteral("開く"), this);
    m_ui.windowClosed = new QRadioButton(QStringLiteral("閉じる"), this);
    auto* radios = new QButtonGroup(this);
    radios->addButton(m_ui.windowOpen, kWindowOpen);
    radios->addButton(m_ui.windowClosed, kWindowClosed);
    auto* row = new QHBoxLayout;
    row->addWidget(m_ui.windowOpen);
    row->addWidget(m_ui.windowClosed);
    return group("起動時ウィンドウ",
                 "起動時にウィンドウを開くか閉じるかを設定します。閉じている場合は通知領域の"
                 "アイコンからウィンドウを開くことができます。",
                 this, row);
}

QWidget* CSystemPropatyDlg::portGroup()
{
    m_ui.changePort = new QCheckBox(QStringLiteral("変更"), this);
    m_ui.port = new QSpinBox(this);
    auto* row = new QHBoxLayout;
    row->addWidget(m_ui.changePort);
    row->addWidget(m_ui.port);
    return group("TCP 待ち受けポート番号",
                 "TCP接続を受け付けるポート番号です。標準は42000です。変更すると接続できなく"
                 "なることがあります。",
                 this, row);
}

QWidget* CSystemPropatyDlg::folderGroup()
{
    auto* box = new QGroupBox(QStringLiteral("フォルダ設定（変更できません）"), this);
    m_ui.sendFolderButton = new QPushButton(QStringLiteral("登録フォルダ"), box);
    m_ui.sendFolder = new ElidedLabel(box);
    m_ui.recvFolderButton = new QPushButton(QStringLiteral("キャッシュフォルダ"), box);
    m_ui.recvFolder = new ElidedLabel(box);
    auto* layout = new QGridLayout(box);
    layout->setColumnStretch(1, 1);
    layout->addWidget(m_ui.sendFolderButton, 0, 0);
    layout->addWidget(m_ui.sendFolder, 0, 1);
    layout->addWidget(m_ui.recvFolderButton, 1, 0);
    layout->addWidget(m_ui.recvFolder, 1, 1);
    // The folders follow the working folder; they are shown, not chosen.
    m_ui.sendFolderButton->setEnabled(false);
    m_ui.recvFolderButton->setEnabled(false);
    return box;
}

void CSystemPropatyDlg::initialise()
{
    const bool skypeName = !m_values.ownSkypeId.empty() && m_values.ownSkypeId == m_values.nodeName;
    m_ui.useSkypeId->setChecked(skypeName);
    m_ui.nodeName->setEnabled(!skypeName);
    m_ui.port->setRange(SystemPropertyRules::kMinPort, SystemPropertyRules::kMaxPort);
    m_ui.port->setValue(m_values.listenPort);
    m_ui.changePort->setChecked(m_values.listenPort != kDefaultTcpPort);
    m_ui.port->setEnabled(m_ui.changePort->isChecked());
    // The key is only changed off line, like the settings of a connected node.
    m_ui.partyKey->setEnabled(!m_values.online);
    m_ui.removePartyKey->setEnabled(!m_values.online);
    m_ui.makePartyKey->setEnabled(!m_values.online);
    m_ui.removePartyKey->setVisible(m_values.partyKeySet);
    if (m_values.online)
        m_ui.partyKey->setPlaceholderText(QStringLiteral("オンライン中は変更できません"));
    else if (m_values.partyKeySet)
        m_ui.partyKey->setPlaceholderText(QStringLiteral("設定済み（変えるときだけ入力）"));
    showValues();
}

void CSystemPropatyDlg::showValues()
{
    m_ui.nodeName->setText(qs(m_values.nodeName));
    m_ui.partyName->setText(qs(m_values.partyName));
    m_ui.limitDay->setText(QString::number(m_values.limitDay));
    m_ui.sendFolder->setFullText(qs(m_values.sendFolder));
    m_ui.recvFolder->setFullText(qs(m_values.recvFolder));
    (m_values.window == kWindowOpen ? m_ui.windowOpen : m_ui.windowClosed)->setChecked(true);
}

bool CSystemPropatyDlg::readValues(QWidget** focus, std::string* message)
{
    const std::string node = m_ui.nodeName->text().toStdString();
    const std::string party = m_ui.partyName->text().toStdString();
    bool isNumber = false;
    const int days = m_ui.limitDay->text().trimmed().toInt(&isNumber);
    // The limits count CP932 bytes, the width the record fields give these names.
    if (const auto refusal = SystemPropertyRules::checkLengths(party, node); refusal.refused()) {
        *focus = fieldWidget(refusal.field);
        *message = ::message(refusal);
        return false;
    }
    m_values.nodeName = node;
    m_values.partyName = party;
    if (!isNumber) {
        *focus = m_ui.limitDay;
        *message = kNotInteger;
        return false;
    }
    m_values.limitDay = days;
    m_values.window = m_ui.windowClosed->isChecked() ? kWindowClosed : kWindowOpen;
    {
        // The passphrase's room is taken once, and the bytes it came through are wiped.
        QByteArray utf8 = m_ui.partyKey->text().toUtf8();
        PartyKeyMaker::wipe(m_values.passphrase);
        m_values.passphrase.reserve(static_cast<std::size_t>(utf8.size()));
        m_values.passphrase.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        std::fill(utf8.begin(), utf8.end(), '\0');
    }
    using KeyChange = Values::KeyChange;
    if (m_ui.removePartyKey->isChecked() && m_values.partyKeySet)
        m_values.keyChange = KeyChange::Remove;
    else if (!m_values.passphrase.empty())
        m_values.keyChange = KeyChange::Set;
    else
        m_values.keyChange = KeyChange::Keep;
    return true;
}

CSystemPropatyDlg::~CSystemPropatyDlg()
{
    PartyKeyMaker::wipe(m_values.passphrase);
}

void CSystemPropatyDlg::onMakeKeyClicked()
{
    const std::string code = PartyKeyMaker::newCode();
    if (code.empty())
        return;
    m_ui.removePartyKey->setChecked(false);
    m_ui.partyKey->setText(qs(code));
    m_ui.showPartyKey->setChecked(true);
    m_ui.madeKey->setText(ui::tr(kKeyMade));
    m_ui.madeKey->setVisible(true);
}

std::string CSystemPropatyDlg::passphraseProblem() const
{
    if (m_values.passphrase.size() > PartyKeyMaker::kMaxPassphrase)
        return ui::tr(kKeyTooLong)
            .arg(QString::number(static_cast<qulonglong>(PartyKeyMaker::kMaxPassphrase)))
            .toStdString();
    const PartyKeyMaker::Rating rating =
        PartyKeyMaker::rate(m_values.passphrase, {m_values.partyName, m_values.nodeName});
    if (rating.strong())
        return {};
    return ui::tr(kKeyWeak)
        .arg(ui::tr(hintText(rating.hint)), QString::number(static_cast<int>(rating.bits)),
             QString::number(static_cast<int>(PartyKeyMaker::kMinBits)))
        .toStdString();
}

void CSystemPropatyDlg::onUseSkypeIdClicked()
{
    if (m_ui.useSkypeId->isChecked()) {
        if (m_values.ownSkypeId.empty()) {
            plat::showMessage(kNoSkypeId, plat::Icon::Warning);
            m_ui.useSkypeId->setChecked(false);
            return;
        }
        m_ui.nodeName->setText(qs(m_values.ownSkypeId));
        m_ui.nodeName->setEnabled(false);
    } else {
        m_ui.nodeName->setEnabled(true);
    }
}

void CSystemPropatyDlg::onChangePortClicked()
{
    if (!m_ui.changePort->isChecked())
        m_ui.port->setValue(kDefaultTcpPort);
    m_ui.port->setEnabled(m_ui.changePort->isChecked());
}

std::string CSystemPropatyDlg::check(QWidget** focus)
{
    const std::string& party = m_values.partyName;
    const auto refusal =
        SystemPropertyRules::checkValues(party, m_values.nodeName, m_values.limitDay);
    if (refusal.refused()) {
        *focus = fieldWidget(refusal.field);
        return message(refusal);
    }
    *focus = m_ui.partyKey;
    using KeyChange = Values::KeyChange;
    if (m_values.online && m_values.keyChange != KeyChange::Keep) {
        *focus = nullptr; // the field is disabled
        return kKeyOnline;
    }
    // The key is made from the passphrase and the party name: a new name needs the passphrase.
    if (m_values.partyKeySet && m_values.keyChange == KeyChange::Keep &&
        m_values.partyName != m_initialParty)
        return SystemPropertyRules::kKeyNeedsPassphrase;
    if (m_values.keyChange == KeyChange::Set) {
        if (std::string problem = passphraseProblem(); !problem.empty())
            return problem;
    }
    // Last: a name that passes is held from here on, even though nothing else is applied yet.
    *focus = nullptr;
    if (m_guard.check(party) == 0)
        return message(SystemPropertyRules::partyRunning());
    return {};
}

QWidget* CSystemPropatyDlg::fieldWidget(SystemPropertyRules::Field field) const
{
    switch (field) {
    case SystemPropertyRules::Field::Party:
        return m_ui.partyName;
    case SystemPropertyRules::Field::Node:
        return m_ui.nodeName;
    case SystemPropertyRules::Field::LimitDay:
        return m_ui.limitDay;
    case SystemPropertyRules::Field::Port:
        return m_ui.port;
    case SystemPropertyRules::Field::None:
        break;
    }
    return nullptr;
}

void CSystemPropatyDlg::accept()
{
    QWidget* focus = nullptr;
    std::string message;
    if (readValues(&focus, &message))
        message = check(&focus);
    if (!message.empty()) {
        plat::showMessage(message, plat::Icon::Warning);
        if (focus)
            focus->setFocus();
        return;
    }
    m_values.listenPort = m_ui.port->value();
    QDialog::accept();
}

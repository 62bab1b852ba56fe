#pragma once

#include <string>

// The rules of the catalog list's file operations and their messages: what a file must be to be
// registered by putting it (a copy, or a shortcut to it) into the send folder, and what taking
// out and deleting a registration refuse or ask. The window and the command line ("add", "get",
// "rm") take and refuse the same files with the same words.
class CatalogFileRules
{
public:
    enum class Check
    {
        Ok,
        NoStatus, // its status cannot be read (it does not exist)
        BadKind,  // a folder, or a read-only, hidden or system file
        Empty,
        BadName, // a plain file whose name the records cannot hold
    };

    static constexpr const char* kNoStatus =
        "ファイル状態の取得に失敗しました。再度実行してみてください。";
    static constexpr const char* kBadKind = "取り扱いできない形式のファイルです";
    static constexpr const char* kEmpty = "サイズが０のファイルは登録できません";
    static constexpr const char* kNameTooLong = "ファイル名が長すぎるため登録できません。";
    // The file name, the characters CP932 cannot write, the name a copy would get.
    static constexpr const char* kUnsendableOne =
        "ファイル名「%s」には送信できない文字（%s）が含まれています。\r\n"
        "文字を置き換えた名前「%s」でコピーを登録しますか？";
    static constexpr const char* kAlreadyRegistered = "「%s」は既に登録されています。";
    static constexpr const char* kCancelled = "操作はキャンセルされました";
    static constexpr const char* kShortcutFailed = "ショートカットの作成に失敗しました.";

    // Taking out.
    static constexpr const char* kNoSelection = "ファイルが選択されていません";
    static constexpr const char* kManagementTakeOut = "管理用ファイルは取り出しできません";
    static constexpr const char* kOwnFile = "このファイルは自ノードで登録したファイルです。";
    static constexpr const char* kNotReady =
        "このファイルはまだ食べ頃ではありません。後ほどお願いします";
    static constexpr const char* kNotOnThisNode =
        "受信したファイルがこのノードにありません（削除された可能性があります）";
    // Deleting: the questions the window asks.
    static constexpr const char* kForceManagement =
        "管理用ファイルは削除できません.強制削除しますか？\r\n"
        "強制削除は他ノードへの波及はしませんがネットワークの整合性を損なう恐れがあります.";
    static constexpr const char* kDeleteEverywhere =
        "選択したファイルとネットワークへの登録を削除します。"
        "この操作はネットワーク上他ノードのファイルも消去します。";
    static constexpr const char* kForceOther =
        "このファイルは他ノードで登録したファイルです. 強制削除しますか？\r\n"
        "強制削除は他ノードへの波及はしませんがネットワークの整合性を損なう恐れがあります.";

    // Only plain files (attributes 0 or archive) of some size can be registered. A name the
    // records' code page cannot hold could never be registered, so it is refused as well.
    static Check check(const std::string& path);
    // The message of a refusal; nullptr for Ok and BadName (which offers a renamed copy).
    static const char* refusalText(Check check);

    // The name a file gets when its own cannot be sent: the characters CP932 cannot write
    // replaced; empty when even that name cannot be sent (too long).
    static std::string sendableName(const std::string& path);
    // The shortcut name a file gets in the send folder.
    static std::string shortcutName(const std::string& fileName);
};

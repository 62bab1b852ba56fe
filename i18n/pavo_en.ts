<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Pavo</name>
    <message>
        <source>&#13;
は既に存在します。置き換えますか？</source>
        <translation>&#13;
already exists. Replace it?</translation>
    </message>
    <message>
        <source>    ２重起動です。処理を中止します    </source>
        <translation>    Pavo is already running for this party. Stopping.    </translation>
    </message>
    <message>
        <source>%1個のファイルを受信しました</source>
        <translation>%1 files have arrived</translation>
    </message>
    <message>
        <source>%4d年%2d月%2d日以降のデータで同期します。よろしいですか</source>
        <translation>Synchronise with the data from %4d/%2d/%2d on. Continue?</translation>
    </message>
    <message>
        <source>%d個のファイルが取り扱いできないファイルでした。処理をスキップしました</source>
        <translation>%d files could not be handled and were skipped.</translation>
    </message>
    <message>
        <source>(変更されました・未承認)</source>
        <translation>(changed, not accepted)</translation>
    </message>
    <message>
        <source>2G超</source>
        <translation>over 2 GB</translation>
    </message>
    <message>
        <source>50 文字以内で入力してください。</source>
        <translation>Enter at most 50 characters.</translation>
    </message>
    <message>
        <source>Pavo のﾊﾞｰｼﾞｮﾝ情報(&amp;A)...</source>
        <translation>&amp;About Pavo...</translation>
    </message>
    <message>
        <source>Pavoのﾊﾞｰｼﾞｮﾝ情報</source>
        <translation>About Pavo</translation>
    </message>
    <message>
        <source>SENDフォルダの「%1」は名前が長すぎるため登録できません。</source>
        <translation>"%1" in the SEND folder cannot be registered: its name is too long.</translation>
    </message>
    <message>
        <source>SENDフォルダの「%1」は送信できない文字（%2）を含むため登録できません。</source>
        <translation>"%1" in the SEND folder cannot be registered: its name holds characters that cannot be sent (%2).</translation>
    </message>
    <message>
        <source>SKYPE ID設定（以下のリストから選択してください）</source>
        <translation>Messaging ID (choose from the list below)</translation>
    </message>
    <message>
        <source>SKYPEと切断</source>
        <translation>Messaging client disconnected</translation>
    </message>
    <message>
        <source>SKYPEと接続</source>
        <translation>Messaging client connected</translation>
    </message>
    <message>
        <source>SKYPEと未接続</source>
        <translation>Messaging client not connected</translation>
    </message>
    <message>
        <source>SKYPEと認証中</source>
        <translation>Messaging client authorising</translation>
    </message>
    <message>
        <source>SKYPE連携</source>
        <translation>Messaging client</translation>
    </message>
    <message>
        <source>Skpeコンタクト名を入力（選択）してください</source>
        <translation>Choose a messaging contact.</translation>
    </message>
    <message>
        <source>SkypeIdが未取得です。Skypeと接続しているか確認してください。</source>
        <translation>The messaging ID is not known yet. Check that the messaging client is connected.</translation>
    </message>
    <message>
        <source>TCP 待ち受けポート番号</source>
        <translation>TCP listening port</translation>
    </message>
    <message>
        <source>TCP接続でパーティ名が不一致の接続があります.切断します.</source>
        <translation>A TCP connection belongs to another party; it is closed.</translation>
    </message>
    <message>
        <source>TCP接続を受け付けるポート番号です。標準は42000です。変更すると接続できなくなることがあります。</source>
        <translation>The port on which TCP connections are accepted; the default is 42000. Changing it may make connections impossible.</translation>
    </message>
    <message>
        <source>TCP接続フレームエラーです接続先のバージョンを確認して下さい.</source>
        <translation>TCP frame error. Check the version of the other node.</translation>
    </message>
    <message>
        <source>TCP設定(ホスト名またはIPアドレスを設定します）</source>
        <translation>TCP (host name or IP address)</translation>
    </message>
    <message>
        <source>abcdや1234のような連続を含みます</source>
        <translation>it holds a sequence such as abcd or 1234</translation>
    </message>
    <message>
        <source>「%1」という接続先はありません。</source>
        <translation>There is no connection named "%1".</translation>
    </message>
    <message>
        <source>「%1」という登録はありません。</source>
        <translation>There is no registration named "%1".</translation>
    </message>
    <message>
        <source>「%1」はディスク上で変わっています。他のノードへは送りません</source>
        <translation>"%1" has changed on disk; it is not passed on to other nodes</translation>
    </message>
    <message>
        <source>「%1」は複数のノードが登録しています（%2）。送信元ノードを指定してください。</source>
        <translation>"%1" is registered by several nodes (%2). Name the node it comes from.</translation>
    </message>
    <message>
        <source>「%1」（送信元: %2）</source>
        <translation>"%1" (from %2)</translation>
    </message>
    <message>
        <source>「%s」にカタログ同期を要求しました。</source>
        <translation>Asked "%s" for its catalog.</translation>
    </message>
    <message>
        <source>「%s」は既に登録されています。</source>
        <translation>"%s" is already registered.</translation>
    </message>
    <message>
        <source>「%s」を取り出しました: %s</source>
        <translation>Took out "%s": %s</translation>
    </message>
    <message>
        <source>「%s」（%s）→「%s」&#13;
</source>
        <translation>"%s" (%s) → "%s"&#13;
</translation>
    </message>
    <message>
        <source>このノードは別のクライアント（プロセス %1）が監視中です。</source>
        <translation>Another client (process %1) is watching this node.</translation>
    </message>
    <message>
        <source>このファイルはまだ食べ頃ではありません。後ほどお願いします</source>
        <translation>This file has not fully arrived yet. Please try again later.</translation>
    </message>
    <message>
        <source>このファイルは他ノードで登録したファイルです. 強制削除しますか？&#13;
強制削除は他ノードへの波及はしませんがネットワークの整合性を損なう恐れがあります.</source>
        <translation>This file was registered by another node. Delete it here anyway?&#13;
A forced deletion does not reach the other nodes, but may leave the network inconsistent.</translation>
    </message>
    <message>
        <source>このファイルは自ノードで登録したファイルです。</source>
        <translation>This file was registered by this node.</translation>
    </message>
    <message>
        <source>この合言葉は推測されやすいため設定できません（%1。推定%2ビット、%3ビット以上が必要です）。「鍵を作る」で作った鍵を使ってください。</source>
        <translation>This passphrase is too easy to guess and cannot be set (%1; about %2 bits, at least %3 are needed). Use a key made with "Make a key" instead.</translation>
    </message>
    <message>
        <source>この操作を行うと隣接ノードとファイル共有状態が同期します。データ量により同期が完了するまでしばらく時間がかかります。</source>
        <translation>This brings the shared files into step with the neighbouring node. Depending on the amount of data it may take a while.</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>none</translation>
    </message>
    <message>
        <source>はじめに、参加するパーティの名前とこのノードの名前を設定してください。</source>
        <translation>First set the name of the party to join and the name of this node.</translation>
    </message>
    <message>
        <source>よく使われる単語や名前でできています</source>
        <translation>it is made of common words or names</translation>
    </message>
    <message>
        <source>オフラインのため接続できません。</source>
        <translation>The node is off line; it does not connect.</translation>
    </message>
    <message>
        <source>オンライン中はパーティ鍵を変更できません。オフラインにしてから設定してください。</source>
        <translation>The party key cannot be changed while on line. Go off line first.</translation>
    </message>
    <message>
        <source>カタログキャッシュ</source>
        <translation>Catalog</translation>
    </message>
    <message>
        <source>カタログ同期</source>
        <translation>Sync catalog</translation>
    </message>
    <message>
        <source>カタログ情報の読み込みでエラーが発生しました。一覧を更新して下さい</source>
        <translation>Reading the catalog failed. Please refresh the list.</translation>
    </message>
    <message>
        <source>キャッシュフォルダ</source>
        <translation>Receive folder</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>キーボードの並びでできています</source>
        <translation>it follows the keyboard</translation>
    </message>
    <message>
        <source>コピーしています...</source>
        <translation>Copying...</translation>
    </message>
    <message>
        <source>コメント</source>
        <translation>Comment</translation>
    </message>
    <message>
        <source>コメント：</source>
        <translation>Comment:</translation>
    </message>
    <message>
        <source>コンタクト情報</source>
        <translation>Contact information</translation>
    </message>
    <message>
        <source>サイズ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>サイズが０のファイルは登録できません</source>
        <translation>An empty file cannot be registered.</translation>
    </message>
    <message>
        <source>システムプロパティ設定</source>
        <translation>System properties</translation>
    </message>
    <message>
        <source>システム設定</source>
        <translation>System settings</translation>
    </message>
    <message>
        <source>ショートカットの作成に失敗しました.</source>
        <translation>Creating the shortcut failed.</translation>
    </message>
    <message>
        <source>ショートカットを作成する</source>
        <translation>Create a shortcut</translation>
    </message>
    <message>
        <source>データ異常</source>
        <translation>bad data</translation>
    </message>
    <message>
        <source>ノード「%1」から「%2」の壊れたデータが届きました。他のノードから取り直します</source>
        <translation>Node "%1" sent damaged data of "%2"; it is fetched again from another node</translation>
    </message>
    <message>
        <source>ノード「%1」の新しい鍵を受け入れました</source>
        <translation>The new key of node "%1" is accepted</translation>
    </message>
    <message>
        <source>ノード「%1」の鍵が以前と違います。本人に指紋を確かめてから</source>
        <translation>Node "%1" shows another key than before. Compare its fingerprint with its owner, then</translation>
    </message>
    <message>
        <source>ノードが選択されていません.</source>
        <translation>No node is selected.</translation>
    </message>
    <message>
        <source>ノードは終了処理中です。</source>
        <translation>The node is shutting down.</translation>
    </message>
    <message>
        <source>ノード一覧</source>
        <translation>Nodes</translation>
    </message>
    <message>
        <source>ノード名</source>
        <translation>Node name</translation>
    </message>
    <message>
        <source>ノード名が未設定です。ノード名を設定してください。</source>
        <translation>The node name is not set. Please set it.</translation>
    </message>
    <message>
        <source>ノード名が設定されていません。</source>
        <translation>The node name is not set.</translation>
    </message>
    <message>
        <source>ノード名にスペースを含む名前は設定できません。</source>
        <translation>A node name cannot contain a space.</translation>
    </message>
    <message>
        <source>ノード名に使用できない文字が含まれています。</source>
        <translation>The node name contains characters that cannot be used.</translation>
    </message>
    <message>
        <source>ノード名はネットワーク内でノードを識別する名前で、重複しないように設定してください。Skypeを使用する場合はSkypeIDを使用すると重複しません。全角15文字・半角30文字以内で設定してください。</source>
        <translation>The node name identifies this node in the network and must be unique. With the messaging client, using its ID keeps it unique. At most 30 single-width or 15 double-width characters.</translation>
    </message>
    <message>
        <source>ノード情報</source>
        <translation>Node information</translation>
    </message>
    <message>
        <source>ノード情報設定</source>
        <translation>Own node information</translation>
    </message>
    <message>
        <source>パーティ名</source>
        <translation>Party name</translation>
    </message>
    <message>
        <source>パーティ名が未設定です。パーティ名を設定してください。</source>
        <translation>The party name is not set. Please set it.</translation>
    </message>
    <message>
        <source>パーティ名が設定されていません。</source>
        <translation>The party name is not set.</translation>
    </message>
    <message>
        <source>パーティ名とノード名を設定してください（「システム設定」）。</source>
        <translation>Set the party name and the node name ("System settings").</translation>
    </message>
    <message>
        <source>パーティ名にスペースを含む名前は設定できません。</source>
        <translation>A party name cannot contain a space.</translation>
    </message>
    <message>
        <source>パーティ名に使用できない文字が含まれています。</source>
        <translation>The party name contains characters that cannot be used.</translation>
    </message>
    <message>
        <source>パーティ名はネットワークの名前で、ネットワーク全体で共通です。パーティ名が異なるノードとは接続できません。全角9文字・半角18文字以内で設定してください。</source>
        <translation>The party name is the name of the network, shared by all its nodes; nodes of another party cannot connect. At most 18 single-width or 9 double-width characters.</translation>
    </message>
    <message>
        <source>パーティ名は既に実行中です。この名前は設定できません</source>
        <translation>A node of this party is already running. This name cannot be set.</translation>
    </message>
    <message>
        <source>パーティ名またはノード名が未設定です。作業フォルダの Pavo.ini の [SYSTEM] に PARTY と NAME を設定してから起動し直すか、コマンド「pavo set party=パーティ名 node=ノード名」で設定してください。</source>
        <translation>The party name or the node name is not set. Set PARTY and NAME in section [SYSTEM] of Pavo.ini in the working folder and start again, or set them with the command "pavo set party=PARTY node=NODE".</translation>
    </message>
    <message>
        <source>パーティ鍵はパーティ名から作られます。パーティ名を変えるときは合言葉も入力してください。</source>
        <translation>The party key is made from the party name. Enter the passphrase too when you change the party name.</translation>
    </message>
    <message>
        <source>パーティ鍵を作れませんでした。パーティ鍵は変更されていません。</source>
        <translation>The party key could not be made. It was not changed.</translation>
    </message>
    <message>
        <source>パーティ鍵を保存できませんでした。パーティ鍵は変更されていません。</source>
        <translation>The party key could not be stored. It was not changed.</translation>
    </message>
    <message>
        <source>パーティ鍵（合言葉）</source>
        <translation>Party key (passphrase)</translation>
    </message>
    <message>
        <source>ファイルがドロップされました。登録方法を選択してください。</source>
        <translation>A file was dropped. Choose how to register it.</translation>
    </message>
    <message>
        <source>ファイルが選択されていません</source>
        <translation>No file is selected.</translation>
    </message>
    <message>
        <source>ファイルをコピーする</source>
        <translation>Copy the file</translation>
    </message>
    <message>
        <source>ファイルを取り出す</source>
        <translation>Take out file</translation>
    </message>
    <message>
        <source>ファイルを受信しました</source>
        <translation>A file has arrived</translation>
    </message>
    <message>
        <source>ファイル名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>ファイル名「%s」には送信できない文字（%s）が含まれています。&#13;
文字を置き換えた名前「%s」でコピーを登録しますか？</source>
        <translation>The file name "%s" holds characters that cannot be sent (%s).&#13;
Register a copy named "%s" instead?</translation>
    </message>
    <message>
        <source>ファイル名が長すぎるため登録できません。</source>
        <translation>The file name is too long to be registered.</translation>
    </message>
    <message>
        <source>ファイル状態の取得に失敗しました。再度実行してみてください。</source>
        <translation>Reading the file's state failed. Please try again.</translation>
    </message>
    <message>
        <source>フォルダの選択</source>
        <translation>Choose a folder</translation>
    </message>
    <message>
        <source>フォルダ設定（変更できません）</source>
        <translation>Folders (cannot be changed)</translation>
    </message>
    <message>
        <source>プレゼンス</source>
        <translation>Presence</translation>
    </message>
    <message>
        <source>ホスト名を入力してください</source>
        <translation>Enter the host name.</translation>
    </message>
    <message>
        <source>ポート番号は1から65535までの数を設定してください。</source>
        <translation>Set a port number from 1 to 65535.</translation>
    </message>
    <message>
        <source>ポート番号設定を行う</source>
        <translation>Set a port number</translation>
    </message>
    <message>
        <source>メイルアドレスは設定されていません</source>
        <translation>No mail address is set.</translation>
    </message>
    <message>
        <source>メインウィンドウを開く</source>
        <translation>Open the main window</translation>
    </message>
    <message>
        <source>メーラの呼び出しができません.メールの設定を確認してください.</source>
        <translation>The mail program cannot be started. Check the mail settings.</translation>
    </message>
    <message>
        <source>メールアドレス</source>
        <translation>Mail address</translation>
    </message>
    <message>
        <source>リスト内にファイルをドロップするとファイルが登録されます。</source>
        <translation>Drop files on the list to register them.</translation>
    </message>
    <message>
        <source>不在</source>
        <translation>Away</translation>
    </message>
    <message>
        <source>作った鍵のコードです。パーティの他のメンバーに伝え、同じコードを合言葉として設定してもらってください。</source>
        <translation>This is the code of the key just made. Give it to the party's other members and have them set the same code as their passphrase.</translation>
    </message>
    <message>
        <source>使用できない文字が含まれています。</source>
        <translation>It contains characters that cannot be used.</translation>
    </message>
    <message>
        <source>全てのファイル(*.*) (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>全データの同期を行います。よろしいですか？</source>
        <translation>All data will be synchronised. Continue?</translation>
    </message>
    <message>
        <source>全データ同期</source>
        <translation>All data</translation>
    </message>
    <message>
        <source>全角%1文字・半角%2文字以内で入力してください。</source>
        <translation>Enter at most %2 single-width or %1 double-width characters.</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>削除する接続を選択してください。</source>
        <translation>Select the connection to delete.</translation>
    </message>
    <message>
        <source>取り扱いできない形式のファイルです</source>
        <translation>This kind of file cannot be handled.</translation>
    </message>
    <message>
        <source>取得済</source>
        <translation>received</translation>
    </message>
    <message>
        <source>受信フォルダを開く</source>
        <translation>Open the received folder</translation>
    </message>
    <message>
        <source>受信速度 %1、残り約 %2</source>
        <translation>%1, about %2 left</translation>
    </message>
    <message>
        <source>合言葉は%1バイト以内で入力してください。</source>
        <translation>Enter a passphrase of at most %1 bytes.</translation>
    </message>
    <message>
        <source>合言葉を設定すると、TCP接続はすべて暗号化され、同じ合言葉を設定したノードとだけ接続します。パーティの全ノードで同じ合言葉を設定してください。空欄のままなら、これまでどおり暗号化しません。</source>
        <translation>With a passphrase, every TCP connection is encrypted and only nodes with the same passphrase connect. Set the same passphrase on every node of the party. Left empty, nothing is encrypted, as before.</translation>
    </message>
    <message>
        <source>同じ文字の繰り返しを含みます</source>
        <translation>it repeats characters</translation>
    </message>
    <message>
        <source>同期操作</source>
        <translation>Synchronisation</translation>
    </message>
    <message>
        <source>同期範囲指定</source>
        <translation>Range</translation>
    </message>
    <message>
        <source>在席(コンタクト不可)</source>
        <translation>Present (do not contact)</translation>
    </message>
    <message>
        <source>在席(コンタクト可)</source>
        <translation>Present (contactable)</translation>
    </message>
    <message>
        <source>在席（コンタクト可)</source>
        <translation>Present (contactable)</translation>
    </message>
    <message>
        <source>変更</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>接続</source>
        <translation>connected</translation>
    </message>
    <message>
        <source>接続を削除しますか？</source>
        <translation>Delete the connection?</translation>
    </message>
    <message>
        <source>接続ノード</source>
        <translation>Connected nodes</translation>
    </message>
    <message>
        <source>接続ノード名</source>
        <translation>Node</translation>
    </message>
    <message>
        <source>接続ポートを変更します。接続先の設定を確認して同じポート番号を設定してください</source>
        <translation>The connection port will be changed. Check the other node's settings and set the same port number.</translation>
    </message>
    <message>
        <source>接続中のノードがあるため変更できません。オフラインにして接続が切れてから変更してください。</source>
        <translation>This cannot be changed while a node is connected. Go off line and wait until the connections have closed.</translation>
    </message>
    <message>
        <source>接続先</source>
        <translation>Destination</translation>
    </message>
    <message>
        <source>接続先のノード名称は全角15文字・半角31文字以内で設定してください。</source>
        <translation>The destination's node name may have at most 31 single-width or 15 double-width characters.</translation>
    </message>
    <message>
        <source>接続先のノード名称を設定してください.</source>
        <translation>Set the destination's node name.</translation>
    </message>
    <message>
        <source>接続先の設定がありません。接続先を1つ以上設定してください。</source>
        <translation>No destination is configured. Configure at least one.</translation>
    </message>
    <message>
        <source>接続先は10件までしか設定できません。</source>
        <translation>At most 10 destinations can be configured.</translation>
    </message>
    <message>
        <source>接続先ノード名称（TCP接続時のみ:全角15文字・半角31文字以内）</source>
        <translation>Destination node name (TCP only; at most 31 single-width or 15 double-width characters)</translation>
    </message>
    <message>
        <source>接続先設定ダイアログ</source>
        <translation>Destination settings</translation>
    </message>
    <message>
        <source>接続方式</source>
        <translation>Method</translation>
    </message>
    <message>
        <source>接続方法</source>
        <translation>Connection method</translation>
    </message>
    <message>
        <source>接続状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>操作はキャンセルされました</source>
        <translation>The operation was cancelled.</translation>
    </message>
    <message>
        <source>整数を入力してください。</source>
        <translation>Enter a whole number.</translation>
    </message>
    <message>
        <source>新しい鍵を受け入れる</source>
        <translation>accept the new key</translation>
    </message>
    <message>
        <source>日</source>
        <translation>days</translation>
    </message>
    <message>
        <source>日付は過去日付を選択して下さい。</source>
        <translation>Choose a date that is not in the future.</translation>
    </message>
    <message>
        <source>日付や年を含みます</source>
        <translation>it holds a date or a year</translation>
    </message>
    <message>
        <source>有効期限</source>
        <translation>Expires</translation>
    </message>
    <message>
        <source>有効期限は1日から36500日までの日数を設定してください。</source>
        <translation>Set an expiry of 1 to 36500 days.</translation>
    </message>
    <message>
        <source>未接続</source>
        <translation>not connected</translation>
    </message>
    <message>
        <source>次に、「接続ノード」の「追加」で接続先を1つ以上設定してください。設定が済んだら「OnLine」を押すと接続を始めます。</source>
        <translation>Next, add at least one destination with "Add" under "Connected nodes". Then press "OnLine" to start connecting.</translation>
    </message>
    <message>
        <source>次のファイルの名前には送信できない文字が含まれています。&#13;
%s文字を置き換えた名前でコピーを登録しますか？</source>
        <translation>The names of these files hold characters that cannot be sent.&#13;
%sRegister copies with those characters replaced?</translation>
    </message>
    <message>
        <source>状態</source>
        <translation>State</translation>
    </message>
    <message>
        <source>状況</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>登録したファイルの有効期限を日数で設定します。</source>
        <translation>How many days registered files stay valid.</translation>
    </message>
    <message>
        <source>登録を削除</source>
        <translation>Delete registration</translation>
    </message>
    <message>
        <source>登録を削除する</source>
        <translation>Delete registration</translation>
    </message>
    <message>
        <source>登録ファイル一覧</source>
        <translation>Registered files</translation>
    </message>
    <message>
        <source>登録フォルダ</source>
        <translation>Send folder</translation>
    </message>
    <message>
        <source>登録方法確認</source>
        <translation>Registration method</translation>
    </message>
    <message>
        <source>登録日時</source>
        <translation>Registered</translation>
    </message>
    <message>
        <source>着信ファイル一覧</source>
        <translation>Received files</translation>
    </message>
    <message>
        <source>短すぎます</source>
        <translation>it is too short</translation>
    </message>
    <message>
        <source>管理用ファイルは削除できません</source>
        <translation>Management files cannot be deleted.</translation>
    </message>
    <message>
        <source>管理用ファイルは削除できません.強制削除しますか？&#13;
強制削除は他ノードへの波及はしませんがネットワークの整合性を損なう恐れがあります.</source>
        <translation>Management files cannot be deleted. Delete it here anyway?&#13;
A forced deletion does not reach the other nodes, but may leave the network inconsistent.</translation>
    </message>
    <message>
        <source>管理用ファイルは取り出しできません</source>
        <translation>Management files cannot be taken out.</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>経路情報</source>
        <translation>Route</translation>
    </message>
    <message>
        <source>自ノード情報を保存しました。次の公開（30秒以内）で他ノードに伝わります。</source>
        <translation>Own node information saved. The other nodes learn of it with the next publication (within 30 s).</translation>
    </message>
    <message>
        <source>自ノード情報設定</source>
        <translation>Own information</translation>
    </message>
    <message>
        <source>自動取得</source>
        <translation>Fetch</translation>
    </message>
    <message>
        <source>自動更新</source>
        <translation>Update automatically</translation>
    </message>
    <message>
        <source>表示</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>複数ファイルがドロップされました.全てショートカット作成の扱いになります。&#13;
よろしいですか？</source>
        <translation>Several files were dropped. All of them will be registered as shortcuts.&#13;
Continue?</translation>
    </message>
    <message>
        <source>起動時にウィンドウを開くか閉じるかを設定します。閉じている場合は通知領域のアイコンからウィンドウを開くことができます。</source>
        <translation>Whether the window opens at start. When it starts closed, open it from the notification-area icon.</translation>
    </message>
    <message>
        <source>起動時ウィンドウ</source>
        <translation>Window at start</translation>
    </message>
    <message>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>送信元</source>
        <translation>From</translation>
    </message>
    <message>
        <source>通信</source>
        <translation>Communication</translation>
    </message>
    <message>
        <source>通知領域がないため、ウィンドウを閉じるとノードを終了します。ノードを終了しますか？&#13;
「いいえ」を選ぶとウィンドウを最小化し、ノードは動作を続けます。</source>
        <translation>There is no notification area, so closing the window ends the node. End the node?&#13;
Choose "No" to minimise the window and keep the node running.</translation>
    </message>
    <message>
        <source>過去日付指定</source>
        <translation>From a date</translation>
    </message>
    <message>
        <source>選択したノードは接続していません</source>
        <translation>The selected node is not connected.</translation>
    </message>
    <message>
        <source>選択したファイルとネットワークへの登録を削除します。この操作はネットワーク上他ノードのファイルも消去します。</source>
        <translation>This deletes the selected file and its registration in the network; the copies on the other nodes are erased as well.</translation>
    </message>
    <message>
        <source>鍵の指紋</source>
        <translation>Key fingerprint</translation>
    </message>
    <message>
        <source>鍵を作る</source>
        <translation>Make a key</translation>
    </message>
    <message>
        <source>鍵を消す</source>
        <translation>Remove the key</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>隣接ノード</source>
        <translation>Neighbours</translation>
    </message>
    <message>
        <source>ＳｋｙｐｅＩＤを使用する</source>
        <translation>Use the messaging ID</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>

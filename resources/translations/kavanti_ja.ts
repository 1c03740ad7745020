<?xml version='1.0' encoding='utf-8'?>
<TS version="2.1" language="ja_JP">
<context>
    <name>CAboutWindow</name>
    <message>
        <source>About Kavanti</source>
        <translation>Kavanti について</translation>
    </message>
    <message>
        <source>Kavanti</source>
        <translation>Kavanti</translation>
    </message>
    <message>
        <source>Dial-up manager for the prepaid PHS data service.</source>
        <translation>プリペイド PHS データ通信サービスのダイヤルアップ接続ツールです。</translation>
    </message>
    <message>
        <source>Write to the author</source>
        <translation>作者にメールを送る</translation>
    </message>
    <message>
        <source>Mail</source>
        <translation>メール</translation>
    </message>
    <message>
        <source>Open the author's web page</source>
        <translation>作者のウェブページを開く</translation>
    </message>
    <message>
        <source>Web</source>
        <translation>ウェブ</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Version %1</source>
        <translation>バージョン %1</translation>
    </message>
</context>
<context>
    <name>CAcceleratorView</name>
    <message>
        <source>Accelerator</source>
        <translation>高速化</translation>
    </message>
    <message>
        <source>Accelerator server</source>
        <translation>高速化サーバ</translation>
    </message>
    <message>
        <source>The accelerator compresses web pages on the way to you.</source>
        <translation>高速化サーバはウェブページを圧縮して届けます。</translation>
    </message>
    <message>
        <source>Accelerator server 1</source>
        <translation>高速化サーバ 1</translation>
    </message>
    <message>
        <source>Accelerator server 2</source>
        <translation>高速化サーバ 2</translation>
    </message>
    <message>
        <source>Accelerator server 3</source>
        <translation>高速化サーバ 3</translation>
    </message>
    <message>
        <source>Do not use an accelerator</source>
        <translation>高速化サーバを使わない</translation>
    </message>
    <message>
        <source>Delete Firefox's cache when applying</source>
        <translation>適用時に Firefox のキャッシュを削除する</translation>
    </message>
</context>
<context>
    <name>CAuthDialog</name>
    <message>
        <source>Administrator rights</source>
        <translation>管理者権限</translation>
    </message>
    <message>
        <source>Kavanti needs administrator rights to change the network settings. Type the password that sudo asks for.</source>
        <translation>ネットワーク設定を変更するには管理者権限が必要です。sudo が求めるパスワードを入力してください。</translation>
    </message>
    <message>
        <source>User name:</source>
        <translation>ユーザ名:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>パスワード:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>This password holds a line break, which sudo cannot read. Type it without one.</source>
        <translation>パスワードに改行が含まれているため、sudo が読み取れません。改行なしで入力してください。</translation>
    </message>
</context>
<context>
    <name>CCardInfoView</name>
    <message>
        <source>Card</source>
        <translation>カード情報</translation>
    </message>
    <message>
        <source>Data card</source>
        <translation>データカード</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>機種:</translation>
    </message>
    <message>
        <source>PHS number:</source>
        <translation>PHS 番号:</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>ファームウェア:</translation>
    </message>
    <message>
        <source>Channels:</source>
        <translation>チャネル:</translation>
    </message>
    <message>
        <source>Signal:</source>
        <translation>電波強度:</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>測定</translation>
    </message>
</context>
<context>
    <name>CConfigView</name>
    <message>
        <source>Options</source>
        <translation>オプション</translation>
    </message>
    <message>
        <source>When Kavanti starts and connects</source>
        <translation>起動時と接続時の動作</translation>
    </message>
    <message>
        <source>Connect when Kavanti starts</source>
        <translation>起動時に接続する</translation>
    </message>
    <message>
        <source>Measure the card when Kavanti starts</source>
        <translation>起動時にカードを測定する</translation>
    </message>
    <message>
        <source>Open the web browser after connecting</source>
        <translation>接続後にウェブブラウザを開く</translation>
    </message>
    <message>
        <source>Open the mail program after connecting</source>
        <translation>接続後にメールソフトを開く</translation>
    </message>
    <message>
        <source>Restart the web browser when the accelerator changes</source>
        <translation>高速化サーバを変更したらウェブブラウザを再起動する</translation>
    </message>
    <message>
        <source>Hide Kavanti after connecting</source>
        <translation>接続後に Kavanti を隠す</translation>
    </message>
    <message>
        <source>Check the remaining time after connecting</source>
        <translation>接続後に残り時間を確認する</translation>
    </message>
</context>
<context>
    <name>CDialupView</name>
    <message>
        <source>The connection failed: %1.</source>
        <translation>接続できませんでした: %1。</translation>
    </message>
    <message>
        <source>Dial-up</source>
        <translation>ダイヤルアップ</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>アカウント</translation>
    </message>
    <message>
        <source>Access point:</source>
        <translation>アクセスポイント:</translation>
    </message>
    <message>
        <source>User name:</source>
        <translation>ユーザ名:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>パスワード:</translation>
    </message>
    <message>
        <source>Link mode:</source>
        <translation>接続モード:</translation>
    </message>
    <message>
        <source>Mode 1</source>
        <translation>モード 1</translation>
    </message>
    <message>
        <source>Mode 4</source>
        <translation>モード 4</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状態</translation>
    </message>
    <message>
        <source>Use the modem script for the Slipper card</source>
        <translation>Slipper カード用のモデムスクリプトを使う</translation>
    </message>
    <message>
        <source>Redial after a failed call</source>
        <translation>接続に失敗したらリダイヤルする</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>接続</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>切断</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>中止</translation>
    </message>
    <message>
        <source>Remaining time</source>
        <translation>残り時間</translation>
    </message>
    <message>
        <source>Check now</source>
        <translation>今すぐ確認</translation>
    </message>
    <message>
        <source>The PPP link cannot be started: pppd is not installed. Install the package "ppp" (sudo apt install ppp), then start Kavanti again.</source>
        <translation>PPP 接続を開始できません: pppd がインストールされていません。パッケージ「ppp」をインストールしてから (sudo apt install ppp)、Kavanti を起動し直してください。</translation>
    </message>
    <message>
        <source>The PPP link cannot be started: pppd or the card's port may not be used by you. Add your user to the group "dip" (sudo adduser $USER dip), log in again, then start Kavanti again.</source>
        <translation>PPP 接続を開始できません: このユーザには pppd またはカードのポートを使う権限がありません。ユーザをグループ「dip」に追加し (sudo adduser $USER dip)、ログインし直してから Kavanti を起動してください。</translation>
    </message>
</context>
<context>
    <name>CMainWindow</name>
    <message>
        <source>Kavanti</source>
        <translation>Kavanti</translation>
    </message>
    <message>
        <source>Connection status</source>
        <translation>接続状態</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>適用</translation>
    </message>
    <message>
        <source>&amp;Kavanti</source>
        <translation>Kavanti(&amp;K)</translation>
    </message>
    <message>
        <source>&amp;About Kavanti</source>
        <translation>Kavanti について(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
</context>
<context>
    <name>CUiFactory</name>
    <message>
        <source>Show Kavanti</source>
        <translation>Kavanti を表示</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>接続</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>切断</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>終了</translation>
    </message>
</context>
<context>
    <name>STR#1000</name>
    <message>
        <source>This system is too old for Kavanti.</source>
        <translation>このシステムは古すぎるため Kavanti を使えません。</translation>
    </message>
    <message>
        <source>The preferences file cannot be read or created. Check that your home folder can be written to, then start Kavanti again.</source>
        <translation>設定ファイルを読み込むことも作成することもできません。ホームフォルダに書き込めるか確認してから、Kavanti を起動し直してください。</translation>
    </message>
    <message>
        <source>The user name must be 2 to 30 characters long.</source>
        <translation>ユーザ名は 2 文字以上 30 文字以下で入力してください。</translation>
    </message>
    <message>
        <source>The password must be 2 to 30 characters long.</source>
        <translation>パスワードは 2 文字以上 30 文字以下で入力してください。</translation>
    </message>
    <message>
        <source>The settings cannot be changed while connected. Disconnect first, then press Apply.</source>
        <translation>接続中は設定を変更できません。切断してから「適用」を押してください。</translation>
    </message>
    <message>
        <source>The network settings application is open. Quit it, then press Apply again.</source>
        <translation>ネットワーク設定アプリケーションが開いています。終了してから、もう一度「適用」を押してください。</translation>
    </message>
    <message>
        <source>No data card was found. Insert the card, then press Apply again.</source>
        <translation>データカードが見つかりません。カードを挿してから、もう一度「適用」を押してください。</translation>
    </message>
    <message>
        <source>Firefox is running. Quit Firefox so that its cache can be deleted, then press Apply again.</source>
        <translation>Firefox が起動しています。キャッシュを削除できるよう Firefox を終了してから、もう一度「適用」を押してください。</translation>
    </message>
</context>
<context>
    <name>STR#1005</name>
    <message>
        <source>Valid until</source>
        <translation>有効期限</translation>
    </message>
    <message>
        <source>Remaining time</source>
        <translation>残り時間</translation>
    </message>
</context>
<context>
    <name>STR#1100</name>
    <message>
        <source>Ready to connect.</source>
        <translation>接続できます。</translation>
    </message>
    <message>
        <source>Modem ready. Dialling...</source>
        <translation>モデムの準備ができました。発信中...</translation>
    </message>
    <message>
        <source>Line connected. Starting the network...</source>
        <translation>回線がつながりました。ネットワークを開始しています...</translation>
    </message>
    <message>
        <source>Checking the user name and password...</source>
        <translation>ユーザ名とパスワードを確認しています...</translation>
    </message>
    <message>
        <source>Connected.</source>
        <translation>接続しました。</translation>
    </message>
    <message>
        <source>Hung up.</source>
        <translation>切断しました。</translation>
    </message>
    <message>
        <source>No data card found. Insert the card.</source>
        <translation>データカードが見つかりません。カードを挿してください。</translation>
    </message>
    <message>
        <source>The modem script for this card is not installed.</source>
        <translation>このカード用のモデムスクリプトがインストールされていません。</translation>
    </message>
    <message>
        <source>The connection failed.</source>
        <translation>接続できませんでした。</translation>
    </message>
    <message>
        <source>The network settings could not be changed.</source>
        <translation>ネットワーク設定を変更できませんでした。</translation>
    </message>
</context>
<context>
    <name>STR#1300</name>
    <message>
        <source>The card is in use by the connection. Disconnect to measure it.</source>
        <translation>カードは接続に使われています。測定するには切断してください。</translation>
    </message>
    <message>
        <source>No data card found. Insert the card to measure it.</source>
        <translation>データカードが見つかりません。測定するにはカードを挿してください。</translation>
    </message>
</context>
</TS>
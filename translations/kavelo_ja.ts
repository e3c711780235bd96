<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- The operator's texts in Japanese: the window and the status page show them whatever the PC's locale.
     Each source text is the English one in the code; lrelease compiles this file at build time. -->
<TS version="2.1" language="ja_JP" sourcelanguage="en">
<context>
    <name>Window</name>
    <message>
        <source>%1 failed: %2</source>
        <translation>%1 の処理に失敗しました: %2</translation>
    </message>
    <message>
        <source>The program folder %1 is being restored. Start KAVELO again when the restore has finished.</source>
        <translation>プログラムフォルダー %1 は復元中です。復元が終わってから KAVELO を起動し直してください。</translation>
    </message>
    <message>
        <source>Cannot lock the program folder %1.</source>
        <translation>プログラムフォルダー %1 をロックできません。</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>The settings file %1 does not exist.</source>
        <translation>設定ファイル %1 がありません。</translation>
    </message>
    <message>
        <source>Cannot read the settings file %1: %2</source>
        <translation>設定ファイル %1 を読めません: %2</translation>
    </message>
    <message>
        <source>The settings file %1 is larger than %2 bytes.</source>
        <translation>設定ファイル %1 が大きすぎます（%2 バイトまで）。</translation>
    </message>
    <message>
        <source>The settings file %1 is UTF-16 text. Save it as Windows-31J, or as UTF-8 with a byte order mark.</source>
        <translation>設定ファイル %1 は UTF-16 で書かれています。Windows-31J か、BOM 付きの UTF-8 で保存してください。</translation>
    </message>
    <message>
        <source>Line %2 of the settings file %1 is not Windows-31J text, nor UTF-8 text in a file that starts with a byte order mark.</source>
        <translation>設定ファイル %1 の %2 行目の文字を読めません（Windows-31J でも、BOM 付きの UTF-8 でもありません）。</translation>
    </message>
    <message>
        <source>In the settings file %1, %2 and %3 go together: set both or neither.</source>
        <translation>設定ファイル %1 の %2 と %3 は組で設定します（両方を設定するか、どちらも設定しないでください）。</translation>
    </message>
    <message>
        <source>Line %2 of the settings file %1: %3=%4 is not %5.</source>
        <translation>設定ファイル %1 の %2 行目: %3=%4 は%5ではありません。</translation>
    </message>
    <message>
        <source>a port number (0 to 65535)</source>
        <translation>ポート番号（0～65535）</translation>
    </message>
    <message>
        <source>a size in bytes</source>
        <translation>バイト数</translation>
    </message>
    <message>
        <source>a rate in baud (50 to 4000000)</source>
        <translation>通信速度（50～4000000 bps）</translation>
    </message>
    <message>
        <source>a count from 1 to 1000</source>
        <translation>1～1000 の数</translation>
    </message>
    <message>
        <source>a count from 0 to 1000</source>
        <translation>0～1000 の数</translation>
    </message>
    <message>
        <source>a number of files (0 to 99)</source>
        <translation>ファイル数（0～99）</translation>
    </message>
    <message>
        <source>a number of days (0 to 36500)</source>
        <translation>日数（0～36500）</translation>
    </message>
    <message>
        <source>a number of hours (0 to 8760)</source>
        <translation>時間数（0～8760）</translation>
    </message>
    <message>
        <source>none or rtscts</source>
        <translation>none か rtscts</translation>
    </message>
    <message>
        <source>a schema name (1 to 63 bytes)</source>
        <translation>スキーマ名（1～63 バイト）</translation>
    </message>
    <message>
        <source>a number of seconds (0 to 3600)</source>
        <translation>秒数（0～3600）</translation>
    </message>
    <message>
        <source>yes or no</source>
        <translation>yes か no</translation>
    </message>
</context>
<context>
    <name>StatusPage</name>
    <message>
        <source>Disk</source>
        <translation>ディスク</translation>
    </message>
    <message>
        <source>Free space on the program folder's disk: %1 of %2 (%3 %)</source>
        <translation>プログラムフォルダーのディスクの空き容量: %1 ／ %2（%3%）</translation>
    </message>
    <message>
        <source>Unknown: the file system does not say.</source>
        <translation>不明（ファイルシステムが答えません）</translation>
    </message>
    <message>
        <source>MinFreeBytes: uploads that would leave less than %1 free are refused.</source>
        <translation>MinFreeBytes: 保存すると空きが %1 を下回るアップロードは受け付けません。</translation>
    </message>
    <message>
        <source>MinFreeBytes is 0: uploads are stored however little room is left.</source>
        <translation>MinFreeBytes は 0 です: 空き容量にかかわらずアップロードを保存します。</translation>
    </message>
    <message>
        <source>Uploads are being refused now: the disk is nearly full. The terminals keep their data and send it again.</source>
        <translation>ディスクの空きが残りわずかのため、アップロードを受け付けていません。端末はデータを残し、あとで送り直します。</translation>
    </message>
    <message>
        <source>Settings (KAVELO.ini)</source>
        <translation>設定（KAVELO.ini）</translation>
    </message>
    <message>
        <source>Read at %1.</source>
        <translation>読み込み: %1</translation>
    </message>
    <message>
        <source>The reload at %1 was refused; the settings in force stay.</source>
        <translation>%1 の再読み込みは失敗しました。それまでの設定で動作しています。</translation>
    </message>
    <message>
        <source>Changed, in force after a restart: %1</source>
        <translation>変更は再起動後に有効になります: %1</translation>
    </message>
</context>
<context>
    <name>Failure</name>
    <!-- What failed (the action) and the engine's own reasons; the system's reasons are never translated. -->
    <message>
        <source>not valid Windows-31J (Shift-JIS) text</source>
        <translation>Windows-31J（シフトJIS）の文字として読めません</translation>
    </message>
    <message>
        <source>contains a NUL byte</source>
        <translation>NUL バイトが含まれています</translation>
    </message>
    <message>
        <source>not enough memory to hold the lines</source>
        <translation>行を読み込むためのメモリーが足りません</translation>
    </message>
    <message>
        <source>cannot store the file</source>
        <translation>ファイルを書き込めません</translation>
    </message>
    <message>
        <source>cannot save the file</source>
        <translation>ファイルを保存できません</translation>
    </message>
    <message>
        <source>the PC&apos;s disk is nearly full</source>
        <translation>PCのディスクの空きが残りわずかです（MinFreeBytes）</translation>
    </message>
    <message>
        <source>crc32 mismatch</source>
        <translation>CRC32 が一致しません（データが途中で壊れました）</translation>
    </message>
    <message>
        <source>connection lost</source>
        <translation>接続が切れました</translation>
    </message>
    <message>
        <source>idle timeout</source>
        <translation>端末からの通信が途絶えました</translation>
    </message>
    <message>
        <source>listening stopped</source>
        <translation>待ち受けを終了しました</translation>
    </message>
    <message>
        <source>no HELLO in time</source>
        <translation>HELLO が時間内に届きませんでした</translation>
    </message>
    <message>
        <source>header line too long</source>
        <translation>ヘッダー行が長すぎます</translation>
    </message>
    <message>
        <source>bad file name</source>
        <translation>ファイル名が正しくありません</translation>
    </message>
    <message>
        <source>protected file name</source>
        <translation>保護されたファイル名です</translation>
    </message>
    <message>
        <source>unknown command</source>
        <translation>不明なコマンドです</translation>
    </message>
    <message>
        <source>HELLO must come first</source>
        <translation>最初に HELLO が必要です</translation>
    </message>
    <message>
        <source>the body does not match its Content-Digest</source>
        <translation>受信したデータが Content-Digest と一致しません</translation>
    </message>
    <message>
        <source>cannot open for reading</source>
        <translation>読み込み用に開けません</translation>
    </message>
    <message>
        <source>cannot open for copying</source>
        <translation>コピー用に開けません</translation>
    </message>
    <message>
        <source>cannot read</source>
        <translation>読み込めません</translation>
    </message>
    <message>
        <source>read failed</source>
        <translation>読み込みに失敗しました</translation>
    </message>
    <message>
        <source>cannot write</source>
        <translation>書き込めません</translation>
    </message>
    <message>
        <source>write failed</source>
        <translation>書き込みに失敗しました</translation>
    </message>
    <message>
        <source>sync failed</source>
        <translation>ディスクへの書き出しに失敗しました</translation>
    </message>
    <message>
        <source>cannot be written</source>
        <translation>書き込めません</translation>
    </message>
    <message>
        <source>cannot be written to disk</source>
        <translation>ディスクに書き出せません</translation>
    </message>
    <message>
        <source>cannot delete</source>
        <translation>削除できません</translation>
    </message>
    <message>
        <source>cannot overwrite</source>
        <translation>上書きできません</translation>
    </message>
    <message>
        <source>cannot move</source>
        <translation>移動できません</translation>
    </message>
    <message>
        <source>cannot create</source>
        <translation>作成できません</translation>
    </message>
    <message>
        <source>cannot create a temporary file</source>
        <translation>一時ファイルを作成できません</translation>
    </message>
    <message>
        <source>cannot set the file&apos;s mode</source>
        <translation>ファイルの権限を設定できません</translation>
    </message>
    <message>
        <source>the file is read-only</source>
        <translation>読み取り専用のファイルです</translation>
    </message>
    <message>
        <source>the file does not exist</source>
        <translation>ファイルがありません</translation>
    </message>
    <message>
        <source>the file already exists</source>
        <translation>ファイルが既にあります</translation>
    </message>
    <message>
        <source>database not found</source>
        <translation>データベースが見つかりません</translation>
    </message>
    <message>
        <source>not a usable database</source>
        <translation>使用できるデータベースではありません</translation>
    </message>
    <message>
        <source>cannot open the database</source>
        <translation>データベースを開けません</translation>
    </message>
    <message>
        <source>cannot open the database: </source>
        <translation>データベースを開けません: </translation>
    </message>
    <message>
        <source>the rows are stored, but the export could not be replaced: </source>
        <translation>行は保存しましたが、出力ファイルを置き換えられませんでした: </translation>
    </message>
</context>
<context>
    <name>Reload</name>
    <message>
        <source>Settings reloaded.</source>
        <translation>設定を読み直しました。</translation>
    </message>
    <message>
        <source>Settings reloaded; %1 take effect after a restart.</source>
        <translation>設定を読み直しました。%1 は再起動後に有効になります。</translation>
    </message>
    <message>
        <source>Settings not reloaded: %1 The settings in force stay.</source>
        <translation>設定を読み直せません: %1 それまでの設定で動作を続けます。</translation>
    </message>
</context>
</TS>

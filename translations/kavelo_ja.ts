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
</context>
</TS>

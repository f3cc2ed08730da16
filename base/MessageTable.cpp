#include "base/MessageTable.h"

#include <atomic>

namespace {

struct Entry {
    int id;
    const char16_t* text[2]; // Japanese, English
};

// clang-format off
constexpr Entry kTable[] = {
    {0, u"ファイル(&F)", u"&File"}, // 0
    {1, u"通信(&C)", u"&Communication"}, // 1
    {2, u"ヘルプ(&H)", u"&Help"}, // 2
    {3, u"終了(&x)", u"E&xit"}, // 3
    {4, u"接続", u"Connect"}, // 4
    {5, u"切断", u"Disconnect"}, // 5
    {6, u"通信設定", u"Communication settings"}, // 6
    {7, u"カメラ定義ファイルを開く", u"Open camera define"}, // 7
    {8, u"バージョン情報", u"About"}, // 8
    {9, u"設定をテキストに保存", u"Text Save"}, // 9
    {10, u"送信", u"Send"}, // 10
    {11, u"切断して終了しますか？", u"Does it disconnect and exit?"}, // 11
    {12, u"接続に失敗しました", u"Failed in connection."}, // 12
    {13, u"エラー", u"Error"}, // 13
    {14, u"(ホスト側)受信タイムアウト", u"(host side)Receive timeout"}, // 14
    {15, u"通信ポートを開けません。", u"Can't open port."}, // 15
    {16, u"通信ポートの設定取得に失敗", u"Failed in getting a parameter of port."}, // 16
    {17, u"通信ポートの設定に失敗", u"Failed in setting of port."}, // 17
    {18, u"通信ポートの初期化に失敗", u"Failed in initialization of port."}, // 18
    {19, u"通信バッファの初期化に失敗", u"Failed in initialization of buffer."}, // 19
    {20, u"タイムアウト設定に失敗", u"Failed in setting of timeout."}, // 20
    {21, u"DTRのセットに失敗", u"Failed to setting DTR."}, // 21
    {22, u"(ホスト側)送信タイムアウト", u"(host side)Transmit timeout"}, // 22
    {23, u"インターフェイス選択", u"Select Interface"}, // 23
    {24, u"設定", u"Setting"}, // 24
    {25, u"キャンセル", u"Cancel"}, // 25
    {26, u"切断中", u"Disconnecting"}, // 26
    {27, u"切断しています。少々お待ち下さい。", u"Please wait."}, // 27
    {28, u"バージョン情報", u"About"}, // 28
    {29, u"インターフェイス（プラグイン）のバージョン情報", u"About Interfaces(Plug Ins)"}, // 29
    {30, u"二ヶ国語対応：日本語", u"Bilingual support:English"}, // 30
    {31, u"カメラ定義(*.xml)|*.xml||", u"Camera define(*.xml)|*.xml||"}, // 31
    {32, u"タイムアウト", u"Timeouts"}, // 32
    {33, u"受信(１文字目)：", u"First Receive:"}, // 33
    {34, u"受信(文字間） ：", u"Next Receive :"}, // 34
    {35, u"送信          ：", u"Send         :"}, // 35
    {36, u"初期値", u"Default"}, // 36
    {37, u"処理中", u"Proccessing"}, // 37
    {38, u"テキストから一括設定", u"Text Load"}, // 38
    {39, u"CR付加", u"Append CR"}, // 39
    {40, u"クリア", u"Clear"}, // 40
    {41, u"テキストファイル(*.txt)|*.txt||", u"Text file(*.txt)|*.txt||"}, // 41
    {42, u"終了", u"Exit"}, // 42
    {43, u"経過時間", u"Elapsed time"}, // 43
    {44, u"(ホスト側)受信をキャンセル", u"(host side)Cancel receiving"}, // 44
    {45, u"詳細設定", u"Detailed setting"}, // 45
    {46, u"XML解析失敗", u"XML parse error"}, // 46
    {47, u"XMLにRoot要素なし", u"Root not found in XML"}, // 47
    {48, u"サポート対象外のXML", u"non supported XML"}, // 48
    {49, u"不明なエラー", u"unknown error"}, // 49
    {50, u"カメラ定義ファイルのオープン失敗", u"Fail open camera define file"}, // 50
    {51, u"最後に使用したカメラ定義ファイルを開きますか？", u"Would you like to open last used camera define file ?"}, // 51
    {52, u"表示(&V)", u"&View"}, // 52
    {53, u"分割(&P)", u"S&plit"}, // 53
    {54, u"ファイルを選ぶ", u"Select file"}, // 54
    {55, u"自動選択(staコマンド)", u"Auto select by sta command"}, // 55
    {56, u"Consoleを見せる --->", u"Show Console --->"}, // 56
    {57, u"<--- Consoleを隠す", u"<--- Hide Console"}, // 57
    {58, u"<----> 全て展開", u"<----> Expand All"}, // 58
    {59, u"--><-- 全て畳む", u"--><-- Collapse All"}, // 59
    {60, u"通信結果", u"Result"}, // 60
    {61, u"機種名が検出できませんでした", u"Model not detect"}, // 61
    {62, u"カメラ定義ファイルが見つかりませんでした", u"Camera define file not found"}, // 62
    {63, u"%dつのファイルが見つかりました", u"Found %d files"}, // 63
    {64, u"検索結果", u"Search result"}, // 64
    {65, u"カメラ定義ファイルを閉じる", u"Close camera define file"}, // 65
    {66, u"スキーマファイルが見つかりませんでした", u"Schema file not found"}, // 66
    {67, u"カメラ定義ファイルのオープン失敗", u"Fail open camera define file"}, // 67
    {68, u"スキーマ解析エラー", u"Schema parse error"}, // 68
    {69, u"バリデータ生成失敗", u"Fail create validator"}, // 69
    {70, u"XML検証エラー", u"XML validation error"}, // 70
    {71, u"一括テキストファイルのオープン失敗", u"Fail open batch text file"}, // 71
    {73, u"設定テキストファイルの保存失敗", u"Fail save settings text file"}, // 73
    {74, u"ファイルは読み取り専用です", u"The file is read-only"}, // 74
    {75, u"ファイルに書き込めません", u"Cannot write the file"}, // 75
    {76, u"ディスクの空き容量が足りません", u"Not enough space on the disk"}, // 76
    {77, u"現在の文字コードで書けない値があります", u"A value cannot be written in the current codeset"}, // 77
    {78, u"アクセス権がありません", u"Access denied"}, // 78
    {79, u"通常のファイルではありません", u"Not a regular file"}, // 79
    {80, u"通信ログ", u"Traffic log"}, // 80
    {81, u"通信ログファイルを開けません", u"Can not open the traffic log file"}, // 81
    {82, u"%s との接続が切れました。", u"The connection to %s was lost."}, // 82
    {83, u"%s が戻りました。再接続しました。", u"%s is back: reconnected."}, // 83
    {84, u"%s の先のカメラが前と違います。前: %s 今: %s",
     u"Another camera answers on %s. Before: %s Now: %s"}, // 84
    {85, u"%s を開く権限がありません（グループ %s）。ユーザーをグループ %s に加え、ログインし直してください。",
     u"No permission to open %s (group %s). Add your user to the group %s and log in again."}, // 85
    {86, u"%s がありません。デバイスがつながっていません。",
     u"%s does not exist: the device is not plugged in."}, // 86
    {87, u"%s は他のプログラムが使用中です。", u"%s is in use by another program."}, // 87
    {88, u"使用中", u"in use"}, // 88
    {89, u"ライブラリが %s bps を受け付けません (対応: %s bps)。",
     u"The library refused %s bps (it supports %s bps)."}, // 89
    {90, u"Camera Link シリアルライブラリ %s が見つからないか、読み込めません。",
     u"The Camera Link serial library %s is missing or cannot be loaded."}, // 90
    {91, u"Camera Link シリアルライブラリ %s に関数 %s がありません。",
     u"The Camera Link serial library %s lacks the function %s."}, // 91
    {92, u"チャンネル %s はありません (%s のチャンネル数: %s)。",
     u"Channel %s no longer exists (%s has %s channels)."}, // 92
    {93, u"ライブラリがありません: %s", u"Library missing: %s"}, // 93
    {94, u"テキストから一括設定: %s / %s 行完了 — %s 行目: %s — 残り %s",
     u"Text Load: %s of %s lines done — line %s: %s — %s left"}, // 94
    {95, u"テキストから一括設定: 全 %s 行を送信しました。", u"Text Load: all %s lines sent."}, // 95
    {96, u"テキストから一括設定は %s 行目 (%s) で停止しました: 送受信に失敗しました。",
     u"Text Load stopped at line %s (%s): the transaction failed."}, // 96
    {97, u"テキストから一括設定は %s 行目 (%s) で停止しました: 受信キャンセル。",
     u"Text Load stopped at line %s (%s): Cancel receiving."}, // 97
    {98, u"%s の内容をカメラへ送信しますか？", u"Send the lines of %s to the camera?"}, // 98
    {99, u"処理中のため、ドロップされたファイルは開けません。",
     u"A job is running: the dropped file was not opened."}, // 99
    {120, u"%s: ホスト名が見つかりません。", u"%s: the host name is unknown."}, // 120
    {121, u"%s に接続を拒否されました。そのポートで待ち受けているサーバーがありません。",
     u"%s refused the connection: no server listens on that port."}, // 121
    {122, u"%s から時間内に応答がありません。", u"%s did not answer in time."}, // 122
    {123, u"%s は接続をすぐに閉じました。サーバーは他のクライアントが使用中です。",
     u"%s closed the connection at once: the server is in use by another client."}, // 123
    {124, u"%s はアドレスとして正しくありません。tcp://ホスト:ポート または rfc2217://ホスト:ポート の形で指定してください。",
     u"%s is not a valid address: write tcp://HOST:PORT or rfc2217://HOST:PORT."}, // 124
    {125, u"%s: ポート番号は 1 から 65535 の範囲で指定してください。",
     u"%s: the port number must be from 1 to 65535."}, // 125
    {126, u"%s は COM-PORT-OPTION (RFC 2217) に対応していません。生の接続には tcp:// を使ってください。",
     u"%s does not offer the COM-PORT-OPTION (RFC 2217): use tcp:// for a raw connection."}, // 126
    {127, u"%s に %s bps を求めましたが、%s bps に設定されました。",
     u"%s was asked for %s bps and set %s bps."}, // 127
    {128, u"追加したアドレス %s", u"added address %s"}, // 128
    {110, u"コマンドが空です。何も送信していません。", u"The command is empty; nothing was sent."}, // 110
    {111, u"%s 文字目が制御文字 %s です。何も送信していません。",
     u"Character %s is the control character %s; nothing was sent."}, // 111
    {112, u"%s 文字目 (%s) は現在の文字コード (%s) で書けません。何も送信していません。",
     u"Character %s (%s) cannot be written in the current codeset (%s); nothing was sent."}, // 112
    {130, u"[%s バイトを表示していません]", u"[%s bytes not shown]"}, // 130
    {131, u"[%s バイトを表示していません。通信ログに記録されています]",
     u"[%s bytes not shown; the traffic log holds them]"}, // 131
    {132, u"%s を開く権限がありません。開けるのは所有者 %s だけです。udev ルールでデバイスをグループ (dialout など) に与え、ユーザーをそのグループに加えて、ログインし直してください。",
     u"No permission to open %s: only its owner %s may open it. Give the device to a group (dialout, for example) with a udev rule, add your user to that group and log in again."}, // 132
    {133, u"COMポート設定", u"COM port settings"}, // 133
    {134, u"ポート", u"Port"}, // 134
    {135, u"デバイス", u"Device"}, // 135
    {136, u"ボーレート", u"Baud rate"}, // 136
    {137, u"データビット", u"Data bits"}, // 137
    {138, u"パリティ", u"Parity"}, // 138
    {139, u"ストップビット", u"Stop bits"}, // 139
    {140, u"フロー制御", u"Flow control"}, // 140
    {141, u"受信キュー", u"Receive queue"}, // 141
    {142, u"送信キュー", u"Transmit queue"}, // 142
    {143, u"追加したデバイス", u"Added devices"}, // 143
    {144, u"/デバイスのパス", u"/path/of/device"}, // 144
    {145, u"追加", u"Add"}, // 145
    {146, u"削除", u"Remove"}, // 146
    {147, u"なし", u"None"}, // 147
    {148, u"奇数", u"Odd"}, // 148
    {149, u"偶数", u"Even"}, // 149
    {150, u"マーク", u"Mark"}, // 150
    {151, u"スペース", u"Space"}, // 151
    {152, u"追加したデバイス %s", u"added device %s"}, // 152
    {153, u"Camera Link シリアル設定", u"Camera Link API"}, // 153
    {154, u"シリアルライブラリ:", u"Serial library:"}, // 154
    {155, u"チャンネル:", u"Channel:"}, // 155
    {156, u" (非対応)", u" (not supported)"}, // 156
    {157, u"%s に Camera Link シリアルライブラリがありません", u"No Camera Link serial library in %s"}, // 157
    {158, u"このチャンネルではライブラリがこの速度に対応していません。",
     u"The library does not offer this speed on the channel."}, // 158
    {160, u"モニター", u"Monitor"}, // 160
    {161, u"毎回の送信", u"Each round"}, // 161
    {162, u"コマンド:", u"Command:"}, // 162
    {163, u"間隔 (ms)", u"Interval (ms)"}, // 163
    {164, u"開始", u"Start"}, // 164
    {165, u"停止", u"Stop"}, // 165
    {166, u"CSV に書き出す", u"Export CSV"}, // 166
    {167, u" 分間を表示", u" minutes shown"}, // 167
    {168, u"%s が範囲 %s – %s を外れました: %s", u"%s left its band %s – %s: %s"}, // 168
    {169, u"%s が範囲 %s – %s に戻りました: %s", u"%s is back in its band %s – %s: %s"}, // 169
    {170, u"スクリプト用ソケット", u"Scripting socket"}, // 170
    {171, u"接続中のスクリプト: %s", u"Scripts connected: %s"}, // 171
    {172, u"スクリプト %s が接続しました", u"Script %s connected"}, // 172
    {173, u"スクリプト %s が切断しました", u"Script %s disconnected"}, // 173
    {174, u"スクリプト用ソケットを開けません: %s", u"The scripting socket cannot be opened: %s"}, // 174
};
// clang-format on

std::atomic<int> g_languageIndex{1};
const std::u16string kJa = u"ja";
const std::u16string kEn = u"en";
std::atomic<const std::u16string*> g_languageCode{&kEn};

} // namespace

void SetUiLanguage(unsigned forceEnglish, int userUiLanguage) {
    const bool japanese = userUiLanguage == 1041;
    g_languageIndex = (forceEnglish != 0 || !japanese) ? 1 : 0;
    g_languageCode = (japanese && forceEnglish == 0) ? &kJa : &kEn;
}

int UiLanguageIndex() {
    return g_languageIndex;
}

const std::u16string& UiLanguageCode() {
    return *g_languageCode.load();
}

namespace {

// Each entry names its id, so the table may list them in any order and leave ids out; the
// index finds an entry by id.
struct Index {
    const Entry* entry[MSG_COUNT] = {};
    constexpr Index() {
        for (const Entry& e : kTable)
            entry[e.id] = &e;
    }
};
constexpr Index kIndex;

constexpr bool IdsAreUniqueAndInRange() {
    bool seen[MSG_COUNT] = {};
    for (const Entry& e : kTable) {
        if (e.id < 0 || e.id >= MSG_COUNT || seen[e.id])
            return false;
        seen[e.id] = true;
    }
    return true;
}
static_assert(IdsAreUniqueAndInRange(), "every message id once, below MSG_COUNT");

} // namespace

bool MsgExists(int id) {
    if (id < 0 || id >= MSG_COUNT || !kIndex.entry[id])
        return false;
    const Entry& e = *kIndex.entry[id];
    return e.text[0] && e.text[1];
}

const char16_t* MsgIn(int id, int languageIndex) {
    if (!MsgExists(id))
        return u"";
    return kIndex.entry[id]->text[languageIndex == 0 ? 0 : 1];
}

const char16_t* Msg(int id) {
    return MsgIn(id, g_languageIndex);
}

std::u16string FormatMsg(int id, std::initializer_list<std::u16string_view> args) {
    const std::u16string pattern = Msg(id);
    std::u16string out;
    auto next = args.begin();
    size_t from = 0;
    for (size_t at = pattern.find(u"%s"); at != std::u16string::npos;
         at = pattern.find(u"%s", from)) {
        out.append(pattern, from, at - from);
        if (next != args.end())
            out += *next++;
        from = at + 2;
    }
    out.append(pattern, from, std::u16string::npos);
    return out;
}

#include "shell/message_meanings.h"

#include <cstdlib>
#include <cstring>

namespace talven::shell {
namespace {

constexpr MessageMeaning kMeanings[] = {
    // The compiler.
    {"内部エラー", "internal error"},
    {"メモリの確保に失敗しました", "memory allocation failed"},
    {"ファイルのオープンに失敗しました", "opening the file failed"},
    {"ファイルの読み込みに失敗しました", "reading the file failed"},
    {"ディレクティプ命令でエラーが発生しました", "error in a directive"},
    {"インクルードファイルの指定が間違ってます", "include file given wrongly"},
    {"インクルードファイルのネスト回数が多すぎます", "include files nested too deep"},
    {"マクロの参照回数が１６回を超えました", "macro references exceed 16"},
    {"変数（関数）の宣言に誤りがあります", "error in a variable (function) declaration"},
    {"式の記述に誤りがあります", "error in an expression"},
    {"０で除算しました", "division by zero"},
    {"定数がありません", "constant missing"},
    {"文法エラー", "syntax error"},
    {"変数がありません", "variable missing"},
    {"型の指定が間違っています", "wrong type"},
    {"定義されていない文字列です", "undefined name"},
    {"文字列は一行内に記述してください", "write a string within one line"},
    {"クォーテーションがありません", "quotation mark missing"},
    {"グローバルシンボルの数が多すぎます", "too many global symbols"},
    {"ローカルシンボルの数が多すぎます", "too many local symbols"},
    {"シンボルバッファの長さをオーバーしました", "symbol buffer overflow"},
    {"一行の長さが長すぎます", "line too long"},
    {"ヒープ領域が溢れました", "heap area overflow"},
    {"プログラム領域が足りません", "program area too small"},
    {"コンパイル途中で EOF が現れました", "end of file during compilation"},
    {"がありません", "missing"},
    {"識別子", "identifier"},
    {"識別子 がありません", "identifier missing"},
    {"関数は定義されていません", "function is not defined"},
    {"ラベルは定義されていません", "label is not defined"},
    // Data files and packed files.
    {"ファイルのシークに失敗しました", "seeking in the file failed"},
    {"メモリ不足です", "out of memory"},
    {"ファイルの作成に失敗しました", "creating the file failed"},
    {"ファイルの書き込みに失敗しました", "writing the file failed"},
    {"ビットデータの書き込みに失敗しました", "writing the bit data failed"},
    {"ファイル入力バッファのメモリ確保に失敗しました", "allocating the file input buffer failed"},
    {"ファイル出力バッファのメモリ確保に失敗しました", "allocating the file output buffer failed"},
    {"辞書オブジェクトの作成に失敗しました", "creating the dictionary object failed"},
    // Pictures.
    {"仮想画面の作成に失敗しました", "failed to create the virtual screen"},
    {"パラメータが範囲外です", "parameter out of range"},
    {"画像ファイルの読み込みに失敗しました", "failed to read the image file"},
    {"画像ファイルの書き込みに失敗しました", "failed to write the image file"},
    {"循環参照してます", "circular reference"},
    {"Direct3Dデバイスの生成に失敗しました", "failed to create the accelerated renderer"},
    {"DirectSound の初期化に失敗しました。", "sound initialisation failed"},
    {"DirectMusicPerformance の初期化に失敗しました。", "MIDI synthesiser initialisation failed"},
    {"レンダーファイルのオープンに失敗しました。", "the media file could not be opened"},
    {"現在の環境ではサウンドは再生されません。", "no sound will play in this environment"},
    {"DirectSound::CreateSoundBuffer に失敗しました。", "creating the sound buffer failed"},
    // The application.
    {"終了しますか？", "quit?"},
    {"終了確認", "confirm quit"},
    {"のDISCをセットして下さい", "please put the disc into the drive"},
    // The debug output window: its list's font and its buttons.
    {"ＭＳ Ｐゴシック", "MS PGothic, a font"},
    {"クリア", "clear"},
    {"閉じる", "close"},
};

}  // namespace

std::span<const MessageMeaning> message_meanings() { return kMeanings; }

std::string with_english_meanings(std::string_view utf8_text) {
  std::string out;
  out.reserve(utf8_text.size() + 32);
  while (!utf8_text.empty()) {
    std::size_t end = utf8_text.find('\n');
    std::string_view line = utf8_text.substr(0, end);
    std::string_view ending = end == std::string_view::npos ? std::string_view() : utf8_text.substr(end, 1);
    utf8_text.remove_prefix(end == std::string_view::npos ? utf8_text.size() : end + 1);
    const MessageMeaning* best = nullptr;
    for (const MessageMeaning& m : kMeanings)
      if (line.find(m.japanese) != std::string_view::npos && (!best || std::strlen(m.japanese) > std::strlen(best->japanese)))
        best = &m;
    std::size_t keep = line.size();
    if (best && keep > 0 && line[keep - 1] == '\r') --keep;  // the meaning goes before a CR LF
    out.append(line.substr(0, keep));
    if (best) out.append(" (").append(best->english).append(")");
    out.append(line.substr(keep));
    out.append(ending);
  }
  return out;
}

bool user_reads_japanese() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return std::strncmp(value, "ja", 2) == 0;
  }
  return false;
}

std::string for_terminal(std::string_view utf8_text) {
  static const bool japanese = user_reads_japanese();
  return japanese ? std::string(utf8_text) : with_english_meanings(utf8_text);
}

}  // namespace talven::shell

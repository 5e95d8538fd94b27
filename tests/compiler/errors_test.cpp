// Every compile error: its text, file, line and the "??" marker in the copied source line.
#include "support.h"

namespace talven::compiler::testing {
namespace {

struct ErrorCase {
  int code;
  std::string source;
  int line;  // 0: not checked
  std::uint32_t capacity = 65536;
};

std::string many_globals() {
  std::string s = "int";
  for (int i = 0; i < 7200; ++i) s += (i ? ",g" : " g") + std::to_string(i) + (i % 300 == 299 ? "\n" : "");
  return s + ";\n";
}
std::string many_locals() {
  std::string s = "int main() {\nint";
  for (int i = 0; i < 1100; ++i) s += (i ? ",l" : " l") + std::to_string(i) + (i % 300 == 299 ? "\n" : "");
  return s + ";\n}\n";
}
std::string long_strings() {
  std::string s;
  std::string chunk(4000, 'x');
  for (int i = 0; i < 70; ++i) s += "char *p" + std::to_string(i) + " = \"" + chunk + "\";\n";
  return s;
}
std::string huge_expression() {
  std::string s = "int x;\nint main() { return x";
  for (int i = 0; i < 2100; ++i) s += i % 400 == 399 ? "\n+x" : "+x";
  return s + "; }\n";
}

std::string nested(const std::string& open, const std::string& middle, const std::string& close, int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open + (i % 500 == 499 ? "\n" : "");
  s += middle;
  for (int i = 0; i < depth; ++i) s += close + (i % 500 == 499 ? "\n" : "");
  return s;
}

class ErrorsTest : public CompilerTest {};

TEST_F(ErrorsTest, EveryFatalErrorNamesFileAndLine) {
  const std::vector<ErrorCase> cases = {
      {0, "int f() { return 0; }\nint f() { return 1; }\n", 2},
      {4, "#pragma once\n", 1},
      {4, "#define int 3\n", 1},
      {4, "#endasm\n", 1},
      {4, "#define P(a) a\n#define Q 1##P\nint v = Q;\n", 3},
      {5, "#include missing.h\n", 1},
      {7, "#define A A\nint v = A;\n", 2},
      {8, "int a b;\n", 1},
      {8, "int a[];\n", 1},
      {8, "int main() { int f(int x); }\n", 1},
      {15, "struct S; int v;\n", 1},
      {9, "int main() { return ); }\n", 1},
      {10, "int v = 1 % 0;\n", 1},
      {11, "int main() { int x; switch (x) { case x: ; } }\n", 1},
      {11, "int a[main];\n", 1},
      {12, "int x;\nint main() {\n  x = 1 @ 2;\n}\n", 3},
      {12, "#define F(1) 2\n", 1},
      {12, "int main() { int x; switch (x) { default: ; default: ; } }\n", 1},
      {12, "int main() { int x; goto x; }\n", 1},
      {12, "int main() { break; }\n", 1},
      {12, "int main() { continue; }\n", 1},
      {12, "int main() { case 1: ; }\n", 1},
      {13, "int main() { 5 = 3; }\n", 1},
      {13, "int main() { return &5; }\n", 1},
      {14, "int x;\nint x;\n", 2},
      {14, "int f();\nchar *f();\n", 2},
      {14, "struct S { int a; } s;\nint main() { return s; }\n", 2},
      {14, "int main() { int x; return x.y; }\n", 1},
      {14, "int main() { e: ; }\nint g() { e: ; }\n", 2},
      {14, "char s[4] = \"abc\";\n", 1},
      {14, "int x; int *p = &x + 1; int y = x;\n", 1},
      {15, "int main() { return y; }\n", 1},
      {15, "struct Nope n;\n", 1},
      {16, "char *p = \"abc\ndef\";\n", 1},
      {17, "int v = 'ab';\n", 1},
      {18, many_globals(), 0},
      {19, many_locals(), 0},
      {20, long_strings(), 0, 1 << 20},
      {21, std::string(5000, ' ') + "\n", 1},
      {22, huge_expression(), 0},
      {22, "int main() { return " + nested("(", "1", ")", 100000) + "; }\n", 0},
      {22, "int main() { return " + nested("-", "1", "", 100000) + "; }\n", 0},
      {22, "int main() { " + nested("{", "", "}", 100000) + " }\n", 0},
      {22, "int main() { " + nested("if (1) ", ";", "", 100000) + " }\n", 0},
      {22, "int " + nested("(", "x", ")", 100000) + ";\n", 0},
      {24, "int main() {\n  return 0;\n", 4},  // the added line feed makes an empty last line
      {24, "int main() { /* open\n", 3},
  };
  for (const ErrorCase& c : cases) {
    Compiled r = build(c.source, c.capacity);
    EXPECT_FALSE(r.result.ok) << c.source.substr(0, 200);
    EXPECT_EQ(r.result.error_code, c.code) << c.source.substr(0, 200) << "\n" << r.errors().substr(0, 300);
    EXPECT_EQ(r.result.error_file, "main.c");
    if (c.line) {
      EXPECT_EQ(r.result.error_line, c.line) << c.source.substr(0, 200);
    }
    if (r.result.error_code >= 0) {
      std::string head = "main.c(" + std::to_string(r.result.error_line) + ") : " +
                         platform::cp932_to_utf8(error_message(c.code)) + "。\n";
      EXPECT_EQ(r.errors().rfind(head, 0), 0u) << r.errors().substr(0, 300);
      EXPECT_NE(r.errors().find("??"), std::string::npos);
    }
  }
}

TEST_F(ErrorsTest, ReasonableNestingCompiles) {
  Compiled r = build("int x;\nint main() { " + nested("{ if (x) ", "x = " + nested("(", "1", ")", 100) + ";", "}", 20) + " return x; }\n");
  EXPECT_TRUE(r.result.ok) << r.errors().substr(0, 200);
}

TEST_F(ErrorsTest, MessageTextsAreTheSystemsOwn) {
  const char* texts[25] = {
      "内部エラー", "メモリの確保に失敗しました", "ファイルのオープンに失敗しました", "ファイルの読み込みに失敗しました",
      "ディレクティプ命令でエラーが発生しました", "インクルードファイルの指定が間違ってます",
      "インクルードファイルのネスト回数が多すぎます", "マクロの参照回数が１６回を超えました",
      "変数（関数）の宣言に誤りがあります", "式の記述に誤りがあります", "０で除算しました", "定数がありません", "文法エラー",
      "変数がありません", "型の指定が間違っています", "定義されていない文字列です", "文字列は一行内に記述してください",
      "クォーテーションがありません", "グローバルシンボルの数が多すぎます", "ローカルシンボルの数が多すぎます",
      "シンボルバッファの長さをオーバーしました", "一行の長さが長すぎます", "ヒープ領域が溢れました",
      "プログラム領域が足りません", "コンパイル途中で EOF が現れました"};
  for (int i = 0; i < 25; ++i) EXPECT_EQ(platform::cp932_to_utf8(error_message(i)), texts[i]) << i;
}

TEST_F(ErrorsTest, TheMarkerStandsAtTheReadPositionWithTabsExpanded) {
  Compiled r = build("int main()\n{\n\tint x;\n\tx = 1 / 0;\n}\n");
  EXPECT_EQ(r.errors(), "main.c(4) : ０で除算しました。\n    x = 1 / 0;??");
  Compiled m = build("#define BAD (1 / 0)\nint v = BAD + 2;\n");
  // inside a macro expansion the marker stands where the expansion began
  EXPECT_EQ(m.errors(), "main.c(2) : ０で除算しました。\nint v = BAD ??+ 2;");
  Compiled s = build("int main() { return \x82\xa0; }\n");
  EXPECT_EQ(s.result.error_code, 15);
}

TEST_F(ErrorsTest, ErrorsInIncludedFilesNameThatFile) {
  Compiled r = build(std::map<std::string, std::string>{{"main.c", "int a;\n#include \"inc.h\"\n"},
                                                        {"inc.h", "int b;\nint c = 1 / 0;\n"}});
  EXPECT_EQ(r.result.error_file, "inc.h");
  EXPECT_EQ(r.result.error_line, 2);
}

TEST_F(ErrorsTest, IncludeNestingAndReadFailures) {
  std::map<std::string, std::string> files{{"main.c", "#include \"f0.h\"\n"}};
  for (int i = 0; i < 20; ++i) files["f" + std::to_string(i) + ".h"] = "#include \"f" + std::to_string(i + 1) + ".h\"\n";
  Compiled deep = build(files);
  EXPECT_EQ(deep.result.error_code, 6);
  EXPECT_EQ(deep.result.error_file, "f14.h");

  CompileOptions options;
  options.report_errors = false;
  options.reader = [](const std::string&, std::string&) { return SourceStatus::read_failed; };
  EXPECT_EQ(compile("main.c", options).error_code, 3);
}

TEST_F(ErrorsTest, AFileThatCannotBeOpenedIsNamedAtLineZero) {
  CompileOptions options;
  options.report_errors = false;
  options.script_dir = "script\\";
  options.reader = [](const std::string&, std::string&) { return SourceStatus::open_failed; };
  CompileResult main = compile("main.c", options);
  EXPECT_EQ(main.error_code, 2);
  EXPECT_EQ(platform::cp932_to_utf8(main.error_text).rfind("script\\main.c(0) : ファイルのオープンに失敗しました。\n", 0), 0u)
      << main.error_text;

  // An include that cannot be opened is named too, not the line that includes it.
  Compiled include = build(std::map<std::string, std::string>{{"main.c", "int a;\n#include \"gone.h\"\n"}});
  EXPECT_EQ(include.result.error_code, 2);
  EXPECT_EQ(include.result.error_file, "gone.h");
  EXPECT_EQ(include.result.error_line, 0);
  EXPECT_EQ(include.errors().rfind("gone.h(0) : ファイルのオープンに失敗しました。\n", 0), 0u) << include.errors();
}

TEST_F(ErrorsTest, ProgramAreaAndMemoryLimits) {
  Compiled tiny = build("int main() { return 12345; }\n", 12);
  EXPECT_EQ(tiny.result.error_code, 23);
  Compiled data = build("int big[100];\nint main() { return 0; }\n", 200);
  EXPECT_EQ(data.result.error_code, 23);
  CompileOptions options;
  options.report_errors = false;
  options.reader = [](const std::string&, std::string& text) {
    text = "int main() { return 0; }\n";
    return SourceStatus::ok;
  };
  ProgramImage image = compile_image("main.c", 0xFFFFFFF0u, options);
  EXPECT_EQ(image.base, 0u);
  EXPECT_EQ(image.result.error_code, 1);
}

TEST_F(ErrorsTest, MissingTokensAreReportedAndCompilationGoesOn) {
  Compiled r = build("int main()\n{\n  int x;\n  x = (1 + 2;\n  return x\n}\n");
  EXPECT_TRUE(r.result.ok) << r.errors();
  EXPECT_EQ(r.errors(), "main.c(4) : ')' がありません\nmain.c(6) : ';' がありません\n");
  Compiled w = build("int main() { int x; do x++; (x); return 0; }\n");
  EXPECT_NE(w.errors().find("main.c(1) : 'while' がありません\n"), std::string::npos) << w.errors();
}

TEST_F(ErrorsTest, TheErrorTextGoesToTheReporterOnce) {
  static std::vector<std::string> seen;
  seen.clear();
  shell::set_report_listener([](const char* text) { seen.emplace_back(text); });
  CompileOptions options;
  options.reader = [](const std::string&, std::string& text) {
    text = "int main() { return y; }\n";
    return SourceStatus::ok;
  };
  compile("main.c", options);
  shell::set_report_listener(nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(platform::cp932_to_utf8(seen[0]), "main.c(1) : 定義されていない文字列です。\nint main() { return y; ??}");
}

}  // namespace
}  // namespace talven::compiler::testing

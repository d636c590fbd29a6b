// The page bridge's pure parts: which request paths name a file of the served folder, where the
// bridge's script goes in a page, and the JSON texts that cross between page and native side.
#include <winsock2.h>  // before gtest's windows.h, which would bring the old sockets header

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "page-bridge/BridgeView.h"
#include "page-bridge/Json.h"

namespace pagebridge {
namespace {

TEST(PagePathTest, OnlyPlainPathsBelowTheFolderAreServed) {
  const struct {
    const char* request;
    const wchar_t* relative;  // null: refused
  } cases[] = {
      {"Load.html", L"Load.html"},
      {"pages/Welcome/page.html", L"pages\\Welcome\\page.html"},
      {"common/img/a%20b.png", L"common\\img\\a b.png"},
      {"pages/%C3%A9t%C3%A9.js", L"pages\\\u00e9t\u00e9.js"},
      {"", nullptr},
      {"/etc/passwd", nullptr},
      {"../Load.html", nullptr},
      {"pages/../../x", nullptr},
      {"pages/..%2f..%2fx", nullptr},
      {"pages/%2e%2e/x", nullptr},
      {"pages/.../x", nullptr},
      {"pages/.. /x", nullptr},
      {"pages/./x", nullptr},
      {"pages//x", nullptr},
      {"pages%5c..%5cx", nullptr},
      {"C:/Windows/win.ini", nullptr},
      {"pages/x%00.html", nullptr},
      {"pages/x%zz", nullptr},
      {"pages/x%4", nullptr},
  };
  for (const auto& c : cases) {
    std::wstring relative;
    bool resolved = ResolvePagePath(c.request, relative);
    EXPECT_EQ(resolved, c.relative != nullptr) << c.request;
    if (resolved && c.relative) {
      EXPECT_EQ(relative, c.relative) << c.request;
    }
  }
}

TEST(PagePathTest, TheScriptGoesAheadOfThePagesOwn) {
  const std::string tag = "<script src=\"b.js\"></script>";
  const struct {
    const char* page;
    const char* injected;
  } cases[] = {
      {"<html><head><title>T</title><script>x</script></head>",
       "<html><head><script src=\"b.js\"></script><title>T</title><script>x</script></head>"},
      {"<HTML lang=\"en\"><HEAD class=\"a\">\n<script>", "<HTML lang=\"en\"><HEAD class=\"a\"><script src=\"b.js\"></script>\n<script>"},
      {"<html><header></header><head>", "<html><header></header><head><script src=\"b.js\"></script>"},
      {"<html><body><script>x</script>", "<html><script src=\"b.js\"></script><body><script>x</script>"},
      {"<script>x</script>", "<script src=\"b.js\"></script><script>x</script>"},
  };
  for (const auto& c : cases) EXPECT_EQ(InjectScript(c.page, tag), c.injected) << c.page;
}

TEST(JsonTest, ValuesCrossWhole) {
  JsonValue value;
  ASSERT_TRUE(ParseJson(R"({"op":"call","args":["a\u0000b\ud83d\ude00\u00e9",-1.5,2147483647,true,null,{"$fn":3}],)"
                        R"("name":"w\u00f6rld","raw":"Gr\u00fc\u00dfe \"\\/"})",
                        value));
  EXPECT_EQ(value[L"op"].text, L"call");
  ASSERT_EQ(value[L"args"].items.size(), 6u);
  EXPECT_EQ(value[L"args"].items[0].text, std::wstring(L"a\0b\xd83d\xde00\u00e9", 6));
  EXPECT_EQ(value[L"args"].items[1].number, -1.5);
  EXPECT_EQ(value[L"args"].items[2].number, 2147483647.0);
  EXPECT_TRUE(value[L"args"].items[3].boolean);
  EXPECT_EQ(value[L"args"].items[4].type, JsonValue::kNull);
  EXPECT_EQ(value[L"args"].items[5][L"$fn"].number, 3);
  EXPECT_EQ(value[L"raw"].text, L"Gr\u00fc\u00dfe \"\\/");
  EXPECT_EQ(value[L"missing"].type, JsonValue::kNull);
  EXPECT_EQ(JsonString(std::wstring(L"a\0\"\\\u00e9\xd83d", 6)), "\"a\\u0000\\\"\\\\\\u00e9\\ud83d\"");
  EXPECT_EQ(JsonNumber(42), "42");
  EXPECT_EQ(JsonNumber(-0.1), "-0.10000000000000001");
  EXPECT_EQ(JsonNumber(1.0 / 0.0), "null");

  for (const char* broken : {"", "{", "[1,]", "{\"a\":1,}", "\"\\x\"", "\"\\u12\"", "tru", "1 2", "{\"a\" 1}",
                             "\"a\nb\""})
    EXPECT_FALSE(ParseJson(broken, value)) << broken;
  EXPECT_TRUE(ParseJson(std::string(64, '[') + std::string(64, ']'), value));

  // Numbers that become ints: whole and within 32 bits, or the fallback (-1 here).
  ASSERT_TRUE(ParseJson("[7, -2147483648, 2147483647, 2147483648, -2147483649, 1e300, -1e300, 1.5, \"7\", null]", value));
  std::vector<int> ints;
  for (const JsonValue& item : value.items) ints.push_back(JsonInt(item, -1));
  EXPECT_EQ(ints, (std::vector<int>{7, INT_MIN, INT_MAX, -1, -1, -1, -1, -1, -1, -1}));
  EXPECT_FALSE(ParseJson(std::string(66, '[') + std::string(66, ']'), value));
}

}  // namespace
}  // namespace pagebridge

#include "app/command_line.h"

#include <gtest/gtest.h>

namespace vyn::sfx {
namespace {

using parameters = std::vector<command_line::parameter>;
using strings = std::vector<std::wstring>;

TEST(CommandLine, Switches_SplitAtTheFirstSeparator) {
  const struct {
    const wchar_t* token;
    const wchar_t* name;
    const wchar_t* value;
  } cases[] = {
      {L"/install-path:C:\\x", L"install-path", L"C:\\x"},
      {L"/x=a:b", L"x", L"a:b"},
      {L"/y:c=d", L"y", L"c=d"},
      {L"--lang-id=1031", L"lang-id", L"1031"},
      {L"/silent", L"silent", L""},
      {L"/", L"", L""},
      {L"--", L"", L""},
      {L"/k:", L"k", L""},
  };
  for (const auto& c : cases) {
    const command_line cmd(c.token, false);
    EXPECT_EQ(cmd.parameters(), (parameters{{c.name, c.value}})) << c.token;
    EXPECT_TRUE(cmd.positional().empty()) << c.token;
  }
}

TEST(CommandLine, TokensWithoutSwitchPrefix_ArePositional) {
  const command_line cmd(L"- -x plain \"--\"", false);
  // A quoted "--" is still a switch token: quotes only group, they do not escape.
  EXPECT_EQ(cmd.positional(), (strings{L"-", L"-x", L"plain"}));
  EXPECT_EQ(cmd.parameters(), (parameters{{L"", L""}}));
}

TEST(CommandLine, Quotes_GroupWhiteSpaceAndDoubleQuotesAreLiteral) {
  const struct {
    const wchar_t* text;
    strings tokens;
  } cases[] = {
      {L"a\"\"b", {L"a\"b"}},
      {L"\"\"", {L"\""}},
      {L"\"a b\"  c\td\r\ne", {L"a b", L"c", L"d", L"e"}},
      {L"x\"y z\"w", {L"xy zw"}},
      {L"\"a\"\"b c\"", {L"a\"b c"}},
      {L"\"\" \"\"", {L"\"", L"\""}},
      {L"\"\"\"", {L"\""}},  // a literal quote, then an opening quote with nothing after it
      {L"\" \"", {L" "}},
      {L"", {}},
      {L"  \t ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(command_line(c.text, false).positional(), c.tokens) << c.text;
  }
}

TEST(CommandLine, ProgramName_IsTheFirstTokenOnlyWhenAsked) {
  command_line cmd(L"\"C:\\Program Files\\a.exe\" /s pos", true);
  EXPECT_EQ(cmd.program_name(), L"C:\\Program Files\\a.exe");
  EXPECT_EQ(cmd.positional(), strings{L"pos"});
  EXPECT_EQ(cmd.render(true), L"\"C:\\Program Files\\a.exe\" /s pos");
  EXPECT_EQ(cmd.render(false), L"/s pos");

  cmd.parse(L"a.exe /s", false);
  EXPECT_FALSE(cmd.program_name());
  EXPECT_EQ(cmd.positional(), strings{L"a.exe"});

  cmd.parse(L"", true);
  EXPECT_FALSE(cmd.program_name());
  EXPECT_EQ(cmd.render(true), L"");
}

TEST(CommandLine, RepeatedName_KeepsFirstPositionAndLastValue) {
  const command_line cmd(L"/a:1 /B:2 /A=3", false);
  EXPECT_EQ(cmd.parameters(), (parameters{{L"a", L"3"}, {L"B", L"2"}}));
}

TEST(CommandLine, Names_CompareCaseInsensitively) {
  command_line cmd(L"/SILENT /Lang-Id:1031", false);
  EXPECT_TRUE(cmd.has(L"silent"));
  EXPECT_EQ(cmd.find(L"LANG-ID"), L"1031");
  EXPECT_FALSE(cmd.has(L"silen"));
  EXPECT_FALSE(cmd.find(L"silents"));
  cmd.set(L"lang-id", L"1040");
  EXPECT_EQ(cmd.parameters(), (parameters{{L"SILENT", L""}, {L"Lang-Id", L"1040"}}));
}

TEST(CommandLine, Editing_KeepsOrderOfFirstInsertion) {
  command_line cmd(L"/a:1 /b:2", false);
  cmd.get_or_add(L"c") = L"3";
  EXPECT_EQ(cmd.get_or_add(L"A"), L"1");
  EXPECT_TRUE(cmd.remove(L"B"));
  EXPECT_FALSE(cmd.remove(L"b"));
  cmd.set(L"b", L"4");
  EXPECT_EQ(cmd.parameters(), (parameters{{L"a", L"1"}, {L"c", L"3"}, {L"b", L"4"}}));
}

TEST(CommandLine, Merge_OverridesParametersAndAppendsPositionals) {
  command_line base(L"prog.exe /a:1 /b:2 first", true);
  base.merge(command_line(L"/B:x /c second", false));
  EXPECT_EQ(base.program_name(), L"prog.exe");
  EXPECT_EQ(base.parameters(), (parameters{{L"a", L"1"}, {L"b", L"x"}, {L"c", L""}}));
  EXPECT_EQ(base.positional(), (strings{L"first", L"second"}));

  base.merge(command_line(L"other.exe", true));
  EXPECT_EQ(base.program_name(), L"other.exe");
}

TEST(CommandLine, Render_QuotesOnlyWhatNeedsIt) {
  command_line cmd;
  cmd.set(L"empty", L"");
  cmd.set(L"blank", L"C:\\a b");
  cmd.set(L"quote", L"say \"hi\"");
  cmd.set(L"inner", L"a\"b");
  cmd.set(L"tab", L"a\tb");
  EXPECT_EQ(cmd.render(false),
            L"/empty /blank:\"C:\\a b\" /quote:\"say \"\"hi\"\"\" /inner:a\"\"b /tab:\"a\tb\"");
}

TEST(CommandLine, RenderedText_ParsesBackToTheSameValue) {
  command_line original;
  original.set_program_name(L"C:\\dir with blanks\\setup \"x\".exe");
  original.set(L"path", L"C:\\a b\\");
  original.set(L"q", L"\"");
  original.set(L"mixed", L"x=y:z \"w\"");
  original.get_or_add(L"flag");
  const command_line copy(original.render(true), true);
  EXPECT_EQ(copy.program_name(), original.program_name());
  EXPECT_EQ(copy.parameters(), original.parameters());
}

}  // namespace
}  // namespace vyn::sfx

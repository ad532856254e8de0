#include "setup/master_setup_evaluator.h"

#include <gtest/gtest.h>

namespace vyn::sfx {
namespace {

class MasterSetupEvaluator : public ::testing::Test {
 protected:
  // The "setup-commands" element of a description fragment.
  pugi::xml_node commands(const wchar_t* xml) {
    EXPECT_TRUE(document_.load_string(xml));
    return document_.child(L"setup-commands");
  }

  pugi::xml_document document_;
  master_setup_evaluator evaluator_;
};

TEST_F(MasterSetupEvaluator, NoAttributesAndMasterInCapitals_CommandIsFolderAndDefaultName) {
  evaluator_.evaluate(L"readme.txt", commands(L"<setup-commands/>"), L"C:\\T\\common");
  EXPECT_EQ(evaluator_.command_line(), L"");
  evaluator_.evaluate(L"KESTRO.EXE", commands(L"<setup-commands/>"), L"C:\\T\\common");
  EXPECT_EQ(evaluator_.command_line(), L"C:\\T\\common\\kestro.exe");
}

TEST_F(MasterSetupEvaluator, EmptyNode_StandsForTheDefaultMaster) {
  evaluator_.evaluate(L"kestro.exe", pugi::xml_node(), L"F");
  EXPECT_EQ(evaluator_.command_line(), L"F\\kestro.exe");
}

TEST_F(MasterSetupEvaluator, NoFileMatches_CommandLineStaysEmpty) {
  const pugi::xml_node element = commands(L"<setup-commands executable='setup.exe' arguments='/x'/>");
  for (const wchar_t* name : {L"kestro.exe", L"setup.exe.sig", L"setup", L""}) {
    evaluator_.evaluate(name, element, L"F");
  }
  EXPECT_EQ(evaluator_.command_line(), L"");
}

TEST_F(MasterSetupEvaluator, ExecutableAndArguments_JoinedWithOneSeparatorAndOneBlank) {
  const pugi::xml_node element = commands(L"<setup-commands executable='kestro.exe' arguments='--a \"b c\"'/>");
  const struct {
    const wchar_t* folder;
    const wchar_t* expected;
  } cases[] = {
      {L"F", L"F\\kestro.exe --a \"b c\""},
      {L"F\\", L"F\\kestro.exe --a \"b c\""},
      {L"F/", L"F/kestro.exe --a \"b c\""},
      {L"", L"kestro.exe --a \"b c\""},
  };
  for (const auto& c : cases) {
    master_setup_evaluator evaluator;
    evaluator.evaluate(L"Kestro.exe", element, c.folder);
    EXPECT_EQ(evaluator.command_line(), c.expected) << c.folder;
  }
}

TEST_F(MasterSetupEvaluator, SfxChild_OverridesOnlyWhatItNames) {
  const struct {
    const wchar_t* xml;
    const wchar_t* master;
    const wchar_t* expected;
  } cases[] = {
      {L"<setup-commands executable='a.exe' arguments='-p'><sfx arguments='-s'/></setup-commands>", L"a.exe",
       L"F\\a.exe -s"},
      {L"<setup-commands executable='a.exe' arguments='-p'><sfx executable='b.exe'/></setup-commands>", L"b.exe",
       L"F\\b.exe -p"},
      {L"<setup-commands arguments='-p'><sfx executable='b.exe' arguments=''/></setup-commands>", L"b.exe",
       L"F\\b.exe"},
      {L"<setup-commands><sfx/></setup-commands>", L"kestro.exe", L"F\\kestro.exe"},
  };
  for (const auto& c : cases) {
    master_setup_evaluator evaluator;
    evaluator.evaluate(c.master, commands(c.xml), L"F");
    EXPECT_EQ(evaluator.command_line(), c.expected) << c.xml;
  }
}

TEST_F(MasterSetupEvaluator, LaterMatchingFile_ReplacesTheCommandLine) {
  const pugi::xml_node element = commands(L"<setup-commands/>");
  evaluator_.evaluate(L"kestro.exe", element, L"first");
  evaluator_.evaluate(L"other.dll", element, L"second");
  EXPECT_EQ(evaluator_.command_line(), L"first\\kestro.exe");
  evaluator_.evaluate(L"kestro.exe", element, L"third");
  EXPECT_EQ(evaluator_.command_line(), L"third\\kestro.exe");
}

}  // namespace
}  // namespace vyn::sfx

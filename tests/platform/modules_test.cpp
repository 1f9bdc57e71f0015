// Modules: loads counted per load, names without case, exports with case, test switches.
#include "platform/hooks.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

int answerCalls = 0;
void Answer() { ++answerCalls; }
void Other() {}
const FARPROC kAnswer = reinterpret_cast<FARPROC>(&Answer);
const FARPROC kOther = reinterpret_cast<FARPROC>(&Other);

class Modules : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::RegisterModule("TESTMOD.DLL", {{"Answer", kAnswer}, {"Other", kOther}});
  }
};

TEST_F(Modules, LoadsAreCountedAndNamesCompareWithoutCaseButExportsWithIt) {
  HMODULE first = LoadLibraryA("testmod.dll");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LoadLibraryA("TESTMOD.DLL"), first);
  EXPECT_EQ(GetModuleHandleA("TestMod.dll"), first);
  EXPECT_EQ(sim::LiveModuleLoads(), 2);
  EXPECT_EQ(GetProcAddress(first, "Answer"), kAnswer);
  EXPECT_EQ(GetProcAddress(first, "answer"), nullptr);
  EXPECT_EQ(GetProcAddress(first, nullptr), nullptr);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(first, "Other"), nullptr);             // still held by the second load
  platform::RegisterModule("testmod.dll", {{"Answer", kOther}});  // replaces the exports, keeps the load
  EXPECT_EQ(GetProcAddress(first, "Answer"), kOther);
  EXPECT_EQ(GetProcAddress(first, "Other"), nullptr);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(GetProcAddress(first, "Answer"), nullptr);  // no longer loaded
  EXPECT_EQ(GetModuleHandleA("TESTMOD.DLL"), nullptr);
  EXPECT_FALSE(FreeLibrary(first));  // unbalanced
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&answerCalls)));
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);  // the program itself
}

TEST_F(Modules, MissingModulesHiddenExportsAndFailedCalls) {
  EXPECT_EQ(LoadLibraryA("NOSUCH.DLL"), nullptr);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  sim::SetModulePresent("testmod.dll", false);
  EXPECT_EQ(LoadLibraryA("TESTMOD.DLL"), nullptr);
  sim::SetModulePresent("TESTMOD.DLL", true);
  sim::SetModuleExportPresent("TESTMOD.DLL", "Answer", false);
  HMODULE module = LoadLibraryA("TESTMOD.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);
  EXPECT_NE(GetProcAddress(module, "Other"), nullptr);
  FreeLibrary(module);

  sim::SetModulePresent("TESTMOD.DLL", false);
  sim::Reset();  // everything present again
  sim::FailCall("LoadLibraryA", 1);
  EXPECT_EQ(LoadLibraryA("TESTMOD.DLL"), nullptr);
  module = LoadLibraryA("TESTMOD.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetProcAddress(module, "Answer"), kAnswer);
  sim::FailCall("GetProcAddress", 1);
  EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);
  sim::FailCall("FreeLibrary", 1);
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace

#include "platform/hooks.h"
#include "platform/win32.h"
#include "platform_fixture.h"

namespace {

int answerCalls = 0;
void Answer() { ++answerCalls; }
void Other() {}

class Modules : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::RegisterModule("TESTMOD.DLL", {{"Answer", reinterpret_cast<FARPROC>(&Answer)},
                                             {"Other", reinterpret_cast<FARPROC>(&Other)}});
  }
};

TEST_F(Modules, LoadFindAndFree) {
  HMODULE module = LoadLibraryA("testmod.dll");  // names compare without case
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetModuleHandleA("TestMod.dll"), module);
  FARPROC answer = GetProcAddress(module, "Answer");
  ASSERT_EQ(answer, reinterpret_cast<FARPROC>(&Answer));
  answerCalls = 0;
  answer();
  EXPECT_EQ(answerCalls, 1);
  EXPECT_EQ(GetProcAddress(module, "answer"), nullptr);  // exports keep their case
  EXPECT_EQ(GetProcAddress(module, "Missing"), nullptr);
  EXPECT_EQ(GetProcAddress(module, nullptr), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);  // no longer loaded
  EXPECT_EQ(GetModuleHandleA("TESTMOD.DLL"), nullptr);
}

TEST_F(Modules, LoadsAreCountedPerLoad) {
  HMODULE first = LoadLibraryA("TESTMOD.DLL");
  HMODULE second = LoadLibraryA("TESTMOD.DLL");
  EXPECT_EQ(first, second);
  EXPECT_EQ(sim::LiveModuleLoads(), 2);
  EXPECT_EQ(sim::LiveObjects(), 2);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(second, "Other"), nullptr);  // still held by the second load
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_FALSE(FreeLibrary(second));  // unbalanced
  EXPECT_EQ(sim::LiveModuleLoads(), 0);
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(&answerCalls)));
}

TEST_F(Modules, MissingModulesAndHiddenExports) {
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
  sim::SetModuleExportPresent("TESTMOD.DLL", "Answer", true);
  EXPECT_NE(GetProcAddress(module, "Answer"), nullptr);
  FreeLibrary(module);

  sim::SetModulePresent("TESTMOD.DLL", false);
  sim::SetModuleExportPresent("TESTMOD.DLL", "Other", false);
  sim::Reset();  // everything present again
  module = LoadLibraryA("TESTMOD.DLL");
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "Other"), nullptr);
  FreeLibrary(module);
}

TEST_F(Modules, RegisteringAgainReplacesTheExports) {
  HMODULE module = LoadLibraryA("TESTMOD.DLL");
  platform::RegisterModule("testmod.dll", {{"Answer", reinterpret_cast<FARPROC>(&Other)}});
  EXPECT_EQ(GetProcAddress(module, "Answer"), reinterpret_cast<FARPROC>(&Other));
  EXPECT_EQ(GetProcAddress(module, "Other"), nullptr);
  EXPECT_EQ(sim::LiveModuleLoads(), 1);  // the load survives
  FreeLibrary(module);
}

TEST_F(Modules, CallsCanBeFailed) {
  sim::FailCall("LoadLibraryA", 1);
  EXPECT_EQ(LoadLibraryA("TESTMOD.DLL"), nullptr);
  HMODULE module = LoadLibraryA("TESTMOD.DLL");
  sim::FailCall("GetProcAddress", 1);
  EXPECT_EQ(GetProcAddress(module, "Answer"), nullptr);
  sim::FailCall("FreeLibrary", 1);
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_EQ(sim::CallCount("LoadLibraryA"), 2);
}

TEST_F(Modules, ProgramHandleIsNeverNull) {
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
  EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr));
}

}  // namespace

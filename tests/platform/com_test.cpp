#include "platform/com.h"
#include "platform/hooks.h"
#include "platform_fixture.h"

namespace {

const CLSID CLSID_Test = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_ITest = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 9}};
const CLSID CLSID_Unknown = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 10}};

struct ITest : IUnknown {
  virtual int Value() = 0;
};

class TestObject : public platform::ComObject<ITest> {
 public:
  TestObject() : ComObject(IID_ITest) {}
  int Value() override { return 42; }
};

HRESULT CreateTest(REFIID iid, void** object) {
  auto* created = new TestObject;
  HRESULT hr = created->QueryInterface(iid, object);
  created->Release();
  return hr;
}

class Com : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::RegisterComClass(CLSID_Test, &CreateTest);
  }
};

TEST_F(Com, GuidsCompareByValue) {
  GUID copy = IID_ITest;
  EXPECT_TRUE(copy == IID_ITest);
  EXPECT_TRUE(CLSID_Test != IID_ITest);
  EXPECT_TRUE(IID_IUnknown != IID_ITest);
}

TEST_F(Com, InitialisationIsCounted) {
  void* object = &object;
  EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ITest, &object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  ASSERT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ITest, &object), S_OK);  // one still holds
  static_cast<ITest*>(object)->Release();
  CoUninitialize();
  CoUninitialize();  // one too many: ignored
  EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ITest, &object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST_F(Com, CreateCountAndRelease) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  ITest* test = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_INPROC_SERVER, IID_ITest, reinterpret_cast<void**>(&test)),
            S_OK);
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(test->Value(), 42);
  EXPECT_EQ(platform::LiveComObjects(), 1);
  EXPECT_EQ(sim::LiveObjects(), 1);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(test->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(static_cast<TestObject*>(test)->RefCount(), 2u);
  void* other = &other;
  EXPECT_EQ(test->QueryInterface(CLSID_Unknown, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(test->QueryInterface(IID_ITest, nullptr), E_POINTER);

  EXPECT_EQ(unknown->Release(), 1u);
  EXPECT_EQ(test->Release(), 0u);
  EXPECT_EQ(platform::LiveComObjects(), 0);
  CoUninitialize();
}

TEST_F(Com, CreationFailures) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  void* object = &object;
  EXPECT_EQ(CoCreateInstance(CLSID_Unknown, nullptr, CLSCTX_ALL, IID_ITest, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  IUnknown* outer = reinterpret_cast<IUnknown*>(&object);
  object = &object;
  EXPECT_EQ(CoCreateInstance(CLSID_Test, outer, CLSCTX_ALL, IID_ITest, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);

  object = &object;
  EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, CLSID_Unknown, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ITest, nullptr), E_POINTER);

  sim::FailCall("CoCreateInstance", 2);
  ASSERT_EQ(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ITest, &object), S_OK);
  static_cast<ITest*>(object)->Release();
  EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_Test, nullptr, CLSCTX_ALL, IID_ITest, &object)));
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(platform::LiveComObjects(), 0);
  CoUninitialize();
}

}  // namespace

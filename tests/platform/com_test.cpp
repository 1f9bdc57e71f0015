// The object base: counted initialisation, creation by class, reference counts, refusals.
#include "platform/com.h"
#include "platform/hooks.h"
#include "platform_fixture.h"

namespace {

const CLSID CLSID_Test = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_ITest = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 9}};
const CLSID CLSID_Unknown = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 10}};

struct ITest : IUnknown {};

class TestObject : public platform::ComObject<ITest> {
 public:
  TestObject() : ComObject(IID_ITest) {}
};

class Com : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    platform::RegisterComClass(CLSID_Test, [](REFIID iid, void** object) {
      auto* created = new TestObject;
      HRESULT hr = created->QueryInterface(iid, object);
      created->Release();
      return hr;
    });
  }
  HRESULT Create(void** object, REFCLSID clsid = CLSID_Test, REFIID iid = IID_ITest,
                 IUnknown* outer = nullptr) {
    if (object != nullptr) *object = object;  // must come back null on failure
    return CoCreateInstance(clsid, outer, CLSCTX_ALL, iid, object);
  }
};

TEST_F(Com, InitialisationIsCounted) {
  void* object;
  EXPECT_EQ(Create(&object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  ASSERT_EQ(Create(&object), S_OK);  // one still holds
  static_cast<ITest*>(object)->Release();
  CoUninitialize();
  CoUninitialize();  // one too many: ignored
  EXPECT_EQ(Create(&object), CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST_F(Com, CreateCountReleaseAndRefuse) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  ITest* test = nullptr;
  ASSERT_EQ(Create(reinterpret_cast<void**>(&test)), S_OK);
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

  void* object;
  EXPECT_EQ(Create(&object, CLSID_Unknown), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Create(&object, CLSID_Test, IID_ITest, reinterpret_cast<IUnknown*>(&object)),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Create(&object, CLSID_Test, CLSID_Unknown), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(Create(nullptr), E_POINTER);
  sim::FailCall("CoCreateInstance", 2);
  ASSERT_EQ(Create(&object), S_OK);
  static_cast<ITest*>(object)->Release();
  EXPECT_TRUE(FAILED(Create(&object)));
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(platform::LiveComObjects(), 0);
  CoUninitialize();
}

}  // namespace

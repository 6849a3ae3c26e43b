// The kernel DLL as a setup program meets it: exports, class factory, the
// object's interfaces and its Use64BitHive property.
#include <windows.h>
#include <gtest/gtest.h>
#include "WineTest.h"
#include "kernel/TqOrvWexKr_h.h"

using namespace orv::test;

namespace {

class KernelDll : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_module && m_getClassObject && m_canUnloadNow && m_createInstance) << GetLastError(); }
    void TearDown() override {
        if (m_module) FreeLibrary(m_module);
    }
    template <class F> F Export(const char* name) { return reinterpret_cast<F>(GetProcAddress(m_module, name)); }
    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(m_getClassObject(CLSID_OrvInstallerKernel, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }
    // A new object, made by the class factory or by OrvWexKrCreateInstance.
    IOrvInstallerKernel* Create(bool fromFactory) {
        IOrvInstallerKernel* kernel = reinterpret_cast<IOrvInstallerKernel*>(0xdeadbeef);
        IClassFactory* factory = fromFactory ? Factory() : nullptr;
        EXPECT_EQ(factory ? factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, reinterpret_cast<void**>(&kernel))
                          : m_createInstance(&kernel), S_OK);
        if (factory) factory->Release();
        return kernel;
    }

    HMODULE m_module = LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
    HRESULT(STDAPICALLTYPE* m_getClassObject)(REFCLSID, REFIID, void**) = Export<decltype(m_getClassObject)>("DllGetClassObject");
    HRESULT(STDAPICALLTYPE* m_canUnloadNow)() = Export<decltype(m_canUnloadNow)>("DllCanUnloadNow");
    HRESULT(STDAPICALLTYPE* m_createInstance)(IOrvInstallerKernel**) = Export<decltype(m_createInstance)>("OrvWexKrCreateInstance");
};

// The one count behind both interfaces: AddRef answers the new count.
ULONG CountOf(IUnknown* p) {
    p->AddRef();
    return p->Release();
}
void* const kSentinel = reinterpret_cast<void*>(0xdeadbeef);

}  // namespace

TEST_F(KernelDll, ClassObjectAndFactoryRefusals) {
    void* p = kSentinel;
    EXPECT_EQ(m_getClassObject(IID_IOrvRegKey, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(m_getClassObject(CLSID_OrvInstallerKernel, IID_IClassFactory, nullptr), E_POINTER);
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    p = kSentinel;
    EXPECT_EQ(factory->CreateInstance(factory /* any would-be outer object */, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, nullptr), E_POINTER);
    // An interface the object does not have: nothing handed out, nothing left alive.
    p = kSentinel;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    factory->Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    EXPECT_EQ(m_createInstance(nullptr), E_POINTER);
}

TEST_F(KernelDll, QueryInterfaceRules) {
    for (bool fromFactory : {true, false}) {
        SCOPED_TRACE(fromFactory ? "class factory" : "OrvWexKrCreateInstance");
        IOrvInstallerKernel* kernel = Create(fromFactory);
        ASSERT_NE(kernel, nullptr);
        EXPECT_EQ(CountOf(kernel), 1u);
        IOrvRegKey* regKey = nullptr;
        ASSERT_EQ(kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&regKey)), S_OK);
        // One object, one count: a reference through either interface counts for both.
        EXPECT_EQ(CountOf(kernel), 2u);
        EXPECT_EQ(CountOf(regKey), 2u);
        IUnknown *unkFromKernel = nullptr, *unkFromRegKey = nullptr;
        ASSERT_EQ(kernel->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unkFromKernel)), S_OK);
        ASSERT_EQ(regKey->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unkFromRegKey)), S_OK);
        EXPECT_EQ(unkFromKernel, unkFromRegKey);
        unkFromKernel->Release();
        unkFromRegKey->Release();
        IOrvInstallerKernel* back = nullptr;
        ASSERT_EQ(regKey->QueryInterface(IID_IOrvInstallerKernel, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, kernel);
        back->Release();
        EXPECT_EQ(regKey->Release(), 1u);
        // The free-threaded marshaler only on factory-made objects.
        IUnknown* marshal = reinterpret_cast<IUnknown*>(kSentinel);
        EXPECT_EQ(kernel->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), fromFactory ? S_OK : E_NOINTERFACE);
        if (fromFactory && marshal != kSentinel && marshal) marshal->Release();
        EXPECT_TRUE(fromFactory || marshal == nullptr);
        void* p = kSentinel;
        EXPECT_EQ(kernel->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(kernel->QueryInterface(IID_IOrvInstallerKernel, nullptr), E_POINTER);
        EXPECT_EQ(kernel->Release(), 0u);
    }
}

TEST_F(KernelDll, CanUnloadOnlyWhenNoObjectLives) {
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    IOrvInstallerKernel *a = Create(true), *b = Create(false);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    a->Release();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);  // the one from the export still lives
    b->Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    for (BOOL lock : {TRUE, FALSE}) {
        IClassFactory* factory = Factory();
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(factory->LockServer(lock), S_OK);
        factory->Release();
        EXPECT_EQ(m_canUnloadNow(), lock ? S_FALSE : S_OK);
    }
}

TEST_F(KernelDll, Use64BitHiveTakesOnlyVariantTrue) {
    IOrvInstallerKernel* kernel = Create(true);
    ASSERT_NE(kernel, nullptr);
    VARIANT_BOOL value = 0x1234;
    ASSERT_EQ(kernel->get_Use64BitHive(&value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);  // clear on a new object
    const VARIANT_BOOL rows[][2] = {{1, VARIANT_FALSE}, {VARIANT_TRUE, VARIANT_TRUE}, {0, VARIANT_FALSE},
                                    {VARIANT_TRUE, VARIANT_TRUE}, {0x7FFF, VARIANT_FALSE}, {VARIANT_FALSE, VARIANT_FALSE}};
    for (const auto& [put, expected] : rows) {
        SCOPED_TRACE(put);
        EXPECT_EQ(kernel->put_Use64BitHive(put), S_OK);
        value = 0x1234;
        EXPECT_EQ(kernel->get_Use64BitHive(&value), S_OK);
        EXPECT_EQ(value, expected);
    }
    EXPECT_EQ(kernel->get_Use64BitHive(nullptr), E_POINTER);  // refused instead of written through
    kernel->Release();
}

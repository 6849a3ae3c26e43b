// The kernel DLL as a setup program meets it: exports, class factory, the
// object's interfaces and its Use64BitHive property.
#include <windows.h>
#include <gtest/gtest.h>
#include "WineTest.h"
#include "kernel/TqOrvWexKr_h.h"

using namespace orv::test;

namespace {

typedef HRESULT(STDAPICALLTYPE* PFN_GetClassObject)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* PFN_CanUnloadNow)();
typedef HRESULT(STDAPICALLTYPE* PFN_CreateInstance)(IOrvInstallerKernel**);

class KernelDll : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryW(Join(BinDir(), L"TqOrvWexKr.dll").c_str());
        ASSERT_NE(m_module, nullptr) << GetLastError();
        m_getClassObject = reinterpret_cast<PFN_GetClassObject>(GetProcAddress(m_module, "DllGetClassObject"));
        m_canUnloadNow = reinterpret_cast<PFN_CanUnloadNow>(GetProcAddress(m_module, "DllCanUnloadNow"));
        m_createInstance = reinterpret_cast<PFN_CreateInstance>(GetProcAddress(m_module, "OrvWexKrCreateInstance"));
        ASSERT_TRUE(m_getClassObject && m_canUnloadNow && m_createInstance);
    }
    void TearDown() override {
        if (m_module) FreeLibrary(m_module);
    }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(m_getClassObject(CLSID_OrvInstallerKernel, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }
    IOrvInstallerKernel* FromFactory() {
        IClassFactory* factory = Factory();
        if (!factory) return nullptr;
        IOrvInstallerKernel* kernel = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, reinterpret_cast<void**>(&kernel)), S_OK);
        factory->Release();
        return kernel;
    }
    IOrvInstallerKernel* FromExport() {
        IOrvInstallerKernel* kernel = reinterpret_cast<IOrvInstallerKernel*>(0xdeadbeef);
        EXPECT_EQ(m_createInstance(&kernel), S_OK);
        return kernel;
    }

    HMODULE m_module = nullptr;
    PFN_GetClassObject m_getClassObject = nullptr;
    PFN_CanUnloadNow m_canUnloadNow = nullptr;
    PFN_CreateInstance m_createInstance = nullptr;
};

// The one count behind both interfaces: AddRef answers the new count.
ULONG CountOf(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

}  // namespace

TEST_F(KernelDll, ClassObjectLookup) {
    void* p = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(m_getClassObject(IID_IOrvRegKey, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(m_getClassObject(CLSID_OrvInstallerKernel, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(KernelDll, FactoryRefusesAggregationAndNullOutPointer) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    IUnknown* outer = factory;  // any unknown will do as a would-be outer object
    void* p = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOrvInstallerKernel, nullptr), E_POINTER);
    // An interface the object does not have: nothing handed out, nothing left alive.
    p = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    factory->Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    EXPECT_EQ(m_createInstance(nullptr), E_POINTER);
}

TEST_F(KernelDll, QueryInterfaceRules) {
    struct Row {
        const char* name;
        bool fromFactory;
    } rows[] = {{"class factory", true}, {"OrvWexKrCreateInstance", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        IOrvInstallerKernel* kernel = row.fromFactory ? FromFactory() : FromExport();
        ASSERT_NE(kernel, nullptr);
        EXPECT_EQ(CountOf(kernel), 1u);

        IOrvRegKey* regKey = nullptr;
        ASSERT_EQ(kernel->QueryInterface(IID_IOrvRegKey, reinterpret_cast<void**>(&regKey)), S_OK);
        // One object, one count: a reference through either interface counts for both.
        EXPECT_EQ(CountOf(kernel), 2u);
        EXPECT_EQ(CountOf(regKey), 2u);
        IUnknown* unkFromKernel = nullptr;
        IUnknown* unkFromRegKey = nullptr;
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
        IUnknown* marshal = reinterpret_cast<IUnknown*>(0xdeadbeef);
        HRESULT hr = kernel->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal));
        if (row.fromFactory) {
            EXPECT_EQ(hr, S_OK);
            if (SUCCEEDED(hr)) marshal->Release();
        } else {
            EXPECT_EQ(hr, E_NOINTERFACE);
            EXPECT_EQ(marshal, nullptr);
        }

        void* p = reinterpret_cast<void*>(0xdeadbeef);
        EXPECT_EQ(kernel->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(kernel->QueryInterface(IID_IOrvInstallerKernel, nullptr), E_POINTER);
        EXPECT_EQ(kernel->Release(), 0u);
    }
}

TEST_F(KernelDll, CanUnloadOnlyWhenNoObjectLives) {
    EXPECT_EQ(m_canUnloadNow(), S_OK);
    IOrvInstallerKernel* a = FromFactory();
    IOrvInstallerKernel* b = FromExport();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    a->Release();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);  // the one from the export still lives
    b->Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);

    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);  // locked
    factory = Factory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
}

TEST_F(KernelDll, Use64BitHiveTakesOnlyVariantTrue) {
    IOrvInstallerKernel* kernel = FromFactory();
    ASSERT_NE(kernel, nullptr);
    struct Row {
        VARIANT_BOOL put;
        VARIANT_BOOL expected;
    } rows[] = {{1, VARIANT_FALSE},           {VARIANT_TRUE, VARIANT_TRUE}, {0, VARIANT_FALSE},
                {VARIANT_TRUE, VARIANT_TRUE}, {0x7FFF, VARIANT_FALSE},      {VARIANT_FALSE, VARIANT_FALSE}};
    VARIANT_BOOL value = 0x1234;
    ASSERT_EQ(kernel->get_Use64BitHive(&value), S_OK);
    EXPECT_EQ(value, VARIANT_FALSE);  // clear on a new object
    for (const Row& row : rows) {
        SCOPED_TRACE(row.put);
        EXPECT_EQ(kernel->put_Use64BitHive(row.put), S_OK);
        value = 0x1234;
        EXPECT_EQ(kernel->get_Use64BitHive(&value), S_OK);
        EXPECT_EQ(value, row.expected);
    }
    // A null out-pointer is refused instead of written through.
    EXPECT_EQ(kernel->get_Use64BitHive(nullptr), E_POINTER);
    kernel->Release();
}

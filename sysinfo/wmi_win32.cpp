// The management layer on Windows: COM and the Windows Management Instrumentation
// service.

#include <memory>
#include <optional>
#include <string>

#include "sysinfo/WmiConnection.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

namespace {

// COM on the connection's thread. CoUninitialize runs when the connection has been
// closed and the last enumerator or row made through it is gone, so no interface is
// released after COM has ended; and only when this object's CoInitializeEx was owed one.
struct ComApartment {
    bool owesUninitialize = false;
    ~ComApartment() {
        if (owesUninitialize) CoUninitialize();
    }
};

template <class T>
void release(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// A BSTR made from ASCII or UTF-8 text, freed when it goes out of scope.
class Bstr {
public:
    explicit Bstr(std::string_view text) {
        std::wstring wide;
        if (!text.empty()) {
            const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
            if (n <= 0) return;
            wide.resize(static_cast<std::size_t>(n));
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
        }
        value = SysAllocString(wide.c_str());
    }
    ~Bstr() { SysFreeString(value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value; }

private:
    BSTR value = nullptr;
};

std::wstring widenAscii(std::string_view name) { return std::wstring(name.begin(), name.end()); }

// One property value, cleared on every path.
class Value {
public:
    Value() { VariantInit(&v); }
    ~Value() { VariantClear(&v); }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    VARIANT* get() { return &v; }
    const VARIANT& operator*() const { return v; }

private:
    VARIANT v;
};

class Win32Row final : public WmiRow {
public:
    Win32Row(std::shared_ptr<ComApartment> apartment, IWbemClassObject* object)
        : com(std::move(apartment)), row(object) {}
    ~Win32Row() override { release(row); }
    Win32Row(const Win32Row&) = delete;
    Win32Row& operator=(const Win32Row&) = delete;

    std::optional<std::string> getText(std::string_view name) const override {
        Value value;
        if (!read(name, value) || (*value).vt != VT_BSTR) return std::nullopt;
        return wideToUtf8((*value).bstrVal);
    }

    std::optional<std::int32_t> getInt32(std::string_view name) const override {
        Value value;
        if (!read(name, value)) return std::nullopt;
        // The service hands unsigned 32- and 16-bit properties over as VT_I4.
        switch ((*value).vt) {
            case VT_I4: return static_cast<std::int32_t>((*value).lVal);
            case VT_UI4: return static_cast<std::int32_t>((*value).ulVal);
            case VT_INT: return static_cast<std::int32_t>((*value).intVal);
            case VT_UINT: return static_cast<std::int32_t>((*value).uintVal);
            case VT_I2: return static_cast<std::int32_t>((*value).iVal);
            case VT_UI2: return static_cast<std::int32_t>((*value).uiVal);
            case VT_UI1: return static_cast<std::int32_t>((*value).bVal);
            default: return std::nullopt;
        }
    }

    std::optional<std::string> getUint64Text(std::string_view name) const override {
        Value value;
        if (!read(name, value)) return std::nullopt;
        if ((*value).vt == VT_BSTR) return wideToUtf8((*value).bstrVal);
        if ((*value).vt == VT_UI8) return std::to_string((*value).ullVal);
        return std::nullopt;
    }

    std::optional<bool> getBool(std::string_view name) const override {
        Value value;
        if (!read(name, value) || (*value).vt != VT_BOOL) return std::nullopt;
        return (*value).boolVal != VARIANT_FALSE;
    }

private:
    bool read(std::string_view name, Value& value) const {
        const std::wstring wideName = widenAscii(name);
        return SUCCEEDED(row->Get(wideName.c_str(), 0, value.get(), nullptr, nullptr));
    }

    std::shared_ptr<ComApartment> com;  // outlives the row object
    IWbemClassObject* row;
};

class Win32Enumerator final : public WmiEnumerator {
public:
    Win32Enumerator(std::shared_ptr<ComApartment> apartment, IEnumWbemClassObject* enumerator)
        : com(std::move(apartment)), rows(enumerator) {}
    ~Win32Enumerator() override { release(rows); }
    Win32Enumerator(const Win32Enumerator&) = delete;
    Win32Enumerator& operator=(const Win32Enumerator&) = delete;

    std::unique_ptr<WmiRow> next() override {
        if (!rows) return nullptr;
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        const HRESULT hr = rows->Next(static_cast<LONG>(WBEM_INFINITE), 1, &object, &returned);
        if (FAILED(hr) || returned != 1 || object == nullptr) {
            release(object);
            return nullptr;
        }
        return std::make_unique<Win32Row>(com, object);
    }

private:
    std::shared_ptr<ComApartment> com;  // outlives the enumerator
    IEnumWbemClassObject* rows;
};

}  // namespace

struct WmiConnection::Impl {
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    std::shared_ptr<ComApartment> com;  // null until COM is usable on this thread
    WmiNamespace currentNamespace = WmiNamespace::Cimv2;
    bool connected = false;
};

WmiConnection::WmiConnection() : impl(std::make_unique<Impl>()) {}

WmiConnection::~WmiConnection() { close(); }

bool WmiConnection::connect(WmiNamespace ns) {
    const std::string_view path = wmiNamespacePath(ns);
    if (path.empty()) return false;

    if (!impl->com) {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // A thread already in a single-threaded apartment can still use COM; it just
        // owes us no CoUninitialize.
        if (FAILED(init) && init != RPC_E_CHANGED_MODE) return false;
        auto com = std::make_shared<ComApartment>();
        com->owesUninitialize = SUCCEEDED(init);
        impl->com = com;
        const HRESULT security =
            CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        // Security is set once per process: a second connection (the battery check and
        // then the inventory) finds it set already, which is fine.
        if (FAILED(security) && security != RPC_E_TOO_LATE) return false;
    }

    if (!impl->locator) {
        if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(&impl->locator)))) {
            impl->locator = nullptr;
            return false;
        }
    }

    if (impl->connected && impl->currentNamespace == ns && impl->services) return true;

    release(impl->services);
    impl->connected = false;

    Bstr resource(path);
    if (!resource.get()) return false;
    if (FAILED(impl->locator->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                            &impl->services))) {
        impl->services = nullptr;
        return false;
    }
    if (FAILED(CoSetProxyBlanket(impl->services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
        release(impl->services);
        return false;
    }
    impl->currentNamespace = ns;
    impl->connected = true;
    return true;
}

std::unique_ptr<WmiEnumerator> WmiConnection::execQuery(std::string_view query) {
    if (!impl->connected || !impl->services) return nullptr;
    Bstr language("WQL");
    Bstr text(query);
    if (!language.get() || !text.get()) return nullptr;
    IEnumWbemClassObject* rows = nullptr;
    if (FAILED(impl->services->ExecQuery(language.get(), text.get(),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                         &rows)) ||
        rows == nullptr) {
        release(rows);
        return nullptr;
    }
    return std::make_unique<Win32Enumerator>(impl->com, rows);
}

void WmiConnection::close() {
    release(impl->services);
    impl->connected = false;
    release(impl->locator);
    // CoUninitialize follows once no enumerator or row holds the apartment any more.
    impl->com.reset();
}

// The Windows shell's collection of open windows (ShellWindows) and the address
// each shows (LocationURL). Compiled only for Windows.
#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/Browsers.h"
#include "registry/store/Unicode.h"

namespace moatgate {

std::string ShellAddressText(wchar_t* bstr) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(bstr), ::SysStringLen(bstr)));
}

std::vector<std::string> ShellWindowAddresses() {
    std::vector<std::string> addresses;
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellWindows* windows = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                                     reinterpret_cast<void**>(&windows))) &&
        windows) {
        long count = 0;
        if (FAILED(windows->get_Count(&count))) count = 0;
        for (long i = 0; i < count; ++i) {
            VARIANT index;
            ::VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            IDispatch* item = nullptr;
            if (FAILED(windows->Item(index, &item)) || !item) continue;
            IWebBrowser2* browser = nullptr;
            if (SUCCEEDED(item->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser))) && browser) {
                BSTR url = nullptr;
                if (SUCCEEDED(browser->get_LocationURL(&url)) && url) {
                    addresses.push_back(ShellAddressText(url));
                    ::SysFreeString(url);
                }
                browser->Release();
            }
            item->Release();
        }
        windows->Release();
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    return addresses;
}

}  // namespace moatgate

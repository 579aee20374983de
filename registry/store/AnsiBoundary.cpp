#include "registry/store/AnsiBoundary.h"

#include <cstring>

#include "registry/store/Unicode.h"

namespace moatgate {

LONG SplitKeyPath(std::string_view utf8, std::vector<std::u16string>& names) {
    names.clear();
    std::u16string all;
    if (!Utf8ToUtf16(utf8, all)) return ERROR_INVALID_PARAMETER;
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(u'\\', start);
        if (end == std::u16string::npos) end = all.size();
        if (end > start) names.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

LONG ToWideName(std::string_view utf8, std::u16string& name) {
    return Utf8ToUtf16(utf8, name) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

LONG StoredData(DWORD type, const unsigned char* data, DWORD cb, std::vector<unsigned char>& stored) {
    if (cb && !data) return ERROR_INVALID_PARAMETER;
    if (!IsStringType(type)) {
        stored.assign(data, data + cb);
        return ERROR_SUCCESS;
    }
    if (cb && data[cb - 1] && !data[cb]) ++cb;
    std::u16string units;
    if (!Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), cb), units))
        return ERROR_INVALID_PARAMETER;
    stored.clear();
    AppendUtf16Le(units, stored);
    return ERROR_SUCCESS;
}

std::string ExternalData(DWORD type, const unsigned char* stored, std::size_t size) {
    std::string out;
    ExternalData(type, stored, size, out);
    return out;
}

void ExternalData(DWORD type, const unsigned char* stored, std::size_t size, std::string& out) {
    if (!IsStringType(type)) {
        out.assign(reinterpret_cast<const char*>(stored), size);
        return;
    }
    Utf16ToUtf8(FromUtf16Le(stored, size), out);
}

LONG CopyNameOut(const std::string& name, char* buffer, DWORD* cch) {
    if (!cch) return ERROR_INVALID_PARAMETER;
    if (!buffer || name.size() + 1 > *cch) {
        *cch = static_cast<DWORD>(name.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *cch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

LONG CopyDataOut(const std::string& bytes, unsigned char* data, DWORD* cb) {
    if (!cb) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (data && size > *cb) {
        *cb = size;
        return ERROR_MORE_DATA;
    }
    if (data && size) std::memcpy(data, bytes.data(), size);
    *cb = size;
    return ERROR_SUCCESS;
}

}  // namespace moatgate

#include "HiveRegistry.h"

#include <cstring>

#include "Unicode.h"

namespace moatgate {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// Splits a key path into its components; empty components (a trailing or doubled
// separator) name nothing.
LONG SplitPath(std::string_view utf8, std::vector<std::u16string>& names) {
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

LONG ToName(std::string_view utf8, std::u16string& name) {
    return Utf8ToUtf16(utf8, name) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

std::vector<unsigned char> ToBytes(std::u16string_view s) {
    std::vector<unsigned char> out(s.size() * 2);
    for (std::size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = static_cast<unsigned char>(s[i] & 0xFF);
        out[2 * i + 1] = static_cast<unsigned char>(s[i] >> 8);
    }
    return out;
}

// What a value's data looks like through the A functions: string types in UTF-8.
std::string ExternalData(const HiveValue& v) {
    if (!IsStringType(v.type)) return std::string(v.data.begin(), v.data.end());
    std::u16string units(v.data.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
    return Utf16ToUtf8(units);
}

// Copies a name into a caller's buffer, or reports the size needed.
LONG CopyName(const std::string& name, char* buffer, DWORD* cch) {
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

LONG CopyData(const std::string& bytes, unsigned char* data, DWORD* cb) {
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

}  // namespace

// Brackets one call: outside a scope it makes the hive current first and, for a
// change, saves it afterwards.
class HiveRegistry::Operation {
public:
    Operation(HiveRegistry& reg, bool writing) : reg_(reg), writing_(writing) {
        if (reg.scopeDepth_ > 0 && (reg.scopeWriting_ || !writing)) {
            status_ = reg.scopeStatus_;
            return;
        }
        owns_ = true;
        status_ = writing ? reg.PrepareWrite() : reg.PrepareRead();
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    ~Operation() {
        if (owns_ && writing_ && status_ == ERROR_SUCCESS && !finished_) reg_.FinishWrite();
    }
    LONG Status() const { return status_; }
    LONG Finish(LONG result) {
        finished_ = true;
        if (!owns_ || !writing_ || status_ != ERROR_SUCCESS) return result;
        const LONG saved = reg_.FinishWrite();
        return result == ERROR_SUCCESS ? saved : result;
    }

private:
    HiveRegistry& reg_;
    bool writing_;
    bool owns_ = false;
    bool finished_ = false;
    LONG status_ = ERROR_SUCCESS;
};

void HiveRegistry::ReplaceHive(Hive&& hive) {
    hive_ = std::move(hive);
    ++hiveEpoch_;
}

HiveKey* HiveRegistry::Resolve(HKEY handle, LONG& status) {
    status = ERROR_SUCCESS;
    if (handle == HKEY_CURRENT_USER) return &hive_.Root();
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        status = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    Handle& h = it->second;
    const std::uint64_t generation = hive_.Generation() ^ (hiveEpoch_ << 40);
    if (h.generation != generation) {
        h.key = hive_.Find(h.path);
        h.generation = generation;
    }
    if (!h.key) status = ERROR_KEY_DELETED;
    return h.key;
}

std::vector<std::u16string> HiveRegistry::PathOf(HKEY handle) const {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? std::vector<std::u16string>{} : it->second.path;
}

HKEY HiveRegistry::NewHandle(HiveKey* key, std::vector<std::u16string> path) {
    do {
        nextHandle_ += 4;
        if (nextHandle_ >= HKEY_CLASSES_ROOT || nextHandle_ < 0x100) nextHandle_ = 0x100;
    } while (handles_.count(nextHandle_));
    Handle h;
    h.path = std::move(path);
    h.key = key;
    h.generation = hive_.Generation() ^ (hiveEpoch_ << 40);
    handles_.emplace(nextHandle_, std::move(h));
    return nextHandle_;
}

LONG HiveRegistry::OpenKey(HKEY root, std::string_view subKey, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    Operation op(*this, false);
    if (op.Status()) return op.Status();
    LONG status = ERROR_SUCCESS;
    HiveKey* key = Resolve(root, status);
    if (!key) return status;
    std::vector<std::u16string> names;
    if ((status = SplitPath(subKey, names))) return status;
    std::vector<std::u16string> path = PathOf(root);
    for (const auto& n : names) {
        key = key->FindChild(n);
        if (!key) return ERROR_FILE_NOT_FOUND;
        path.push_back(n);
    }
    *result = NewHandle(key, std::move(path));
    return ERROR_SUCCESS;
}

LONG HiveRegistry::RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD, REGSAM,
                                 HKEY* result) {
    return OpenKey(root, subKey, result);
}

LONG HiveRegistry::RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) {
    return OpenKey(root, subKey, result);
}

LONG HiveRegistry::RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD,
                                   std::string_view keyClass, DWORD options, REGSAM,
                                   const void*, HKEY* result, DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    // Volatile keys would vanish from a file store; only lasting keys are offered.
    if (options != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
    std::vector<std::u16string> names;
    LONG status = SplitPath(subKey, names);
    if (status) return status;
    std::u16string cls;
    if ((status = ToName(keyClass, cls))) return status;
    for (const auto& n : names)
        if (n.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;

    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(root, status);
    if (!key) return op.Finish(status);
    std::vector<std::u16string> path = PathOf(root);
    bool created = false;
    for (const auto& n : names) {
        HiveKey* child = key->FindChild(n);
        if (!child) {
            child = hive_.CreateSubkey(*key, n, cls, true);
            created = true;
        }
        key = child;
        path.push_back(n);
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    const LONG saved = op.Finish(ERROR_SUCCESS);
    if (saved) return saved;
    *result = NewHandle(key, std::move(path));
    return ERROR_SUCCESS;
}

LONG HiveRegistry::RegSetValueExA(HKEY handle, std::string_view name, DWORD, DWORD type,
                                  const unsigned char* data, DWORD cb) {
    if (cb && !data) return ERROR_INVALID_PARAMETER;
    std::u16string valueName;
    LONG status = ToName(name, valueName);
    if (status) return status;
    if (valueName.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    std::vector<unsigned char> stored;
    if (IsStringType(type)) {
        // As the platform does: a count that left out the terminator takes it in.
        if (cb && data[cb - 1] && !data[cb]) ++cb;
        std::u16string units;
        if (!Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), cb), units))
            return ERROR_INVALID_PARAMETER;
        stored = ToBytes(units);
    } else {
        stored.assign(data, data + cb);
    }

    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(handle, status);
    if (!key) return op.Finish(status);
    hive_.SetValue(*key, valueName, type, std::move(stored));
    return op.Finish(ERROR_SUCCESS);
}

LONG HiveRegistry::RegQueryValueExA(HKEY handle, std::string_view name, DWORD*, DWORD* type,
                                    unsigned char* data, DWORD* cb) {
    std::u16string valueName;
    LONG status = ToName(name, valueName);
    if (status) return status;
    Operation op(*this, false);
    if (op.Status()) return op.Status();
    const HiveKey* key = Resolve(handle, status);
    if (!key) return status;
    const HiveValue* v = key->FindValue(valueName);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    return CopyData(ExternalData(*v), data, cb);
}

LONG HiveRegistry::RegEnumKeyExA(HKEY handle, DWORD index, char* name, DWORD* cchName, DWORD*,
                                 char* keyClass, DWORD* cchClass, void* lastWriteTime) {
    Operation op(*this, false);
    if (op.Status()) return op.Status();
    LONG status = ERROR_SUCCESS;
    const HiveKey* key = Resolve(handle, status);
    if (!key) return status;
    const HiveKey* child = key->ChildAt(index);
    if (!child) return ERROR_NO_MORE_ITEMS;
    if ((status = CopyName(Utf16ToUtf8(child->name), name, cchName))) return status;
    if (cchClass) {
        const std::string cls = child->keyClass ? Utf16ToUtf8(*child->keyClass) : std::string();
        if ((status = CopyName(cls, keyClass, cchClass))) return status;
    }
    if (lastWriteTime) std::memcpy(lastWriteTime, &child->modified, sizeof child->modified);
    return ERROR_SUCCESS;
}

LONG HiveRegistry::RegEnumValueA(HKEY handle, DWORD index, char* name, DWORD* cchName, DWORD*,
                                 DWORD* type, unsigned char* data, DWORD* cbData) {
    Operation op(*this, false);
    if (op.Status()) return op.Status();
    LONG status = ERROR_SUCCESS;
    const HiveKey* key = Resolve(handle, status);
    if (!key) return status;
    if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const HiveValue& v = key->values[index];
    if ((status = CopyName(Utf16ToUtf8(v.name), name, cchName))) return status;
    if (type) *type = v.type;
    return CopyData(ExternalData(v), data, cbData);
}

LONG HiveRegistry::RegDeleteKeyA(HKEY root, std::string_view subKey) {
    std::vector<std::u16string> names;
    LONG status = SplitPath(subKey, names);
    if (status) return status;
    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(root, status);
    if (!key) return op.Finish(status);
    for (const auto& n : names) {
        key = key->FindChild(n);
        if (!key) return op.Finish(ERROR_FILE_NOT_FOUND);
    }
    if (!key->parent || !key->children.empty()) return op.Finish(ERROR_ACCESS_DENIED);
    hive_.DeleteKey(*key);
    return op.Finish(ERROR_SUCCESS);
}

LONG HiveRegistry::RegDeleteValueA(HKEY handle, std::string_view name) {
    std::u16string valueName;
    LONG status = ToName(name, valueName);
    if (status) return status;
    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(handle, status);
    if (!key) return op.Finish(status);
    return op.Finish(hive_.DeleteValue(*key, valueName) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

LONG HiveRegistry::RegCloseKey(HKEY handle) {
    if (handle >= HKEY_CLASSES_ROOT && handle <= HKEY_CLASSES_ROOT + 6) return ERROR_SUCCESS;
    return handles_.erase(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void HiveRegistry::BeginScope(bool forWriting) {
    if (scopeDepth_++ > 0) return;
    scopeWriting_ = forWriting;
    scopeStatus_ = forWriting ? PrepareWrite() : PrepareRead();
}

LONG HiveRegistry::EndScope(bool commit) {
    if (scopeDepth_ == 0 || --scopeDepth_ > 0) return ERROR_SUCCESS;
    const bool wrote = scopeWriting_ && scopeStatus_ == ERROR_SUCCESS;
    scopeWriting_ = false;
    LONG status = scopeStatus_;
    if (wrote && commit) status = FinishWrite();
    if (wrote && !commit) AbortWrite();
    scopeStatus_ = ERROR_SUCCESS;
    return status;
}

}  // namespace moatgate

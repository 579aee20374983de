#include "registry/store/HiveRegistry.h"

#include <cstring>
#include <utility>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/Unicode.h"

namespace moatgate {

// Brackets one call: outside a scope it makes the hive current first and, for a
// change, saves it afterwards.
class HiveRegistry::Operation {
public:
    Operation(HiveRegistry& reg, bool writing) : reg_(reg), writing_(writing) {
        if (reg.writeDepth_ > 0) {
            status_ = reg.writeStatus_;
            return;
        }
        if (reg.scopeDepth_ > 0 && !writing) {
            status_ = reg.readStatus_;
            return;
        }
        owns_ = true;
        status_ = writing ? reg.PrepareWrite() : reg.PrepareRead();
        if (writing && status_ != ERROR_SUCCESS) reg.NoteRefusal(status_);
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    ~Operation() {
        if (owns_ && writing_ && status_ == ERROR_SUCCESS && !finished_) Finish(ERROR_SUCCESS);
    }
    LONG Status() const { return status_; }
    LONG Finish(LONG result) {
        finished_ = true;
        if (!owns_ || !writing_ || status_ != ERROR_SUCCESS) return result;
        const LONG saved = reg_.FinishWrite();
        if (saved != ERROR_SUCCESS) reg_.NoteRefusal(saved);
        reg_.AfterWriteInReadScope();
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

HiveRegistry::KeyPath::~KeyPath() {
    std::shared_ptr<KeyPath> up = std::move(parent);
    while (up && up.use_count() == 1) up = std::move(up->parent);
}

std::shared_ptr<HiveRegistry::KeyPath> HiveRegistry::Below(std::shared_ptr<KeyPath> from,
                                                           const std::vector<std::u16string>& names) {
    if (names.empty()) return from;
    std::u16string relative;
    for (const auto& n : names) {
        if (!relative.empty()) relative.push_back(u'\\');
        relative += n;
    }
    return std::make_shared<KeyPath>(std::move(from), std::move(relative));
}

HiveKey* HiveRegistry::Find(const KeyPath* path) {
    std::vector<const KeyPath*> chain;
    for (; path; path = path->parent.get()) chain.push_back(path);
    HiveKey* key = &hive_.Root();
    for (auto it = chain.rbegin(); key && it != chain.rend(); ++it) key = Hive::FindBelow(key, (*it)->relative);
    return key;
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
    if (h.generation != CurrentGeneration()) {
        h.key = Find(h.path.get());
        h.generation = CurrentGeneration();
    }
    if (!h.key) status = ERROR_KEY_DELETED;
    return h.key;
}

std::shared_ptr<HiveRegistry::KeyPath> HiveRegistry::PathOf(HKEY handle) const {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second.path;
}

HKEY HiveRegistry::NewHandle(HiveKey* key, std::shared_ptr<KeyPath> path) {
    do {
        nextHandle_ += 4;
        if (nextHandle_ >= HKEY_CLASSES_ROOT || nextHandle_ < 0x100) nextHandle_ = 0x100;
    } while (handles_.count(nextHandle_));
    Handle h;
    h.path = std::move(path);
    h.key = key;
    h.generation = CurrentGeneration();
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
    if ((status = SplitKeyPath(subKey, names))) return status;
    for (const auto& n : names) {
        key = key->FindChild(n);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    *result = NewHandle(key, Below(PathOf(root), names));
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
    LONG status = SplitKeyPath(subKey, names);
    if (status) return status;
    std::u16string cls;
    if ((status = ToWideName(keyClass, cls))) return status;
    // The platform's limits: a name of at most 255 characters, a path at most 512 levels deep.
    if (names.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    for (const auto& n : names)
        if (n.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;

    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(root, status);
    if (!key) return op.Finish(status);
    if (key->Depth(kMaxKeyDepth) + names.size() > kMaxKeyDepth) return op.Finish(ERROR_INVALID_PARAMETER);
    bool created = false;
    for (const auto& n : names) {
        HiveKey* child = key->FindChild(n);
        if (!child) {
            child = hive_.CreateSubkey(*key, n, cls, true);
            created = true;
        }
        key = child;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    const LONG saved = op.Finish(ERROR_SUCCESS);
    if (saved) return saved;
    *result = NewHandle(key, Below(PathOf(root), names));
    return ERROR_SUCCESS;
}

LONG HiveRegistry::RegSetValueExA(HKEY handle, std::string_view name, DWORD, DWORD type,
                                  const unsigned char* data, DWORD cb) {
    std::u16string valueName;
    LONG status = ToWideName(name, valueName);
    if (status) return status;
    if (valueName.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
    std::vector<unsigned char> stored;
    if ((status = StoredData(type, data, cb, stored))) return status;

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
    LONG status = ToWideName(name, valueName);
    if (status) return status;
    Operation op(*this, false);
    if (op.Status()) return op.Status();
    const HiveKey* key = Resolve(handle, status);
    if (!key) return status;
    const HiveValue* v = key->FindValue(valueName);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    return CopyDataOut(ExternalData(v->type, v->data.data(), v->data.size()), data, cb);
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
    if ((status = CopyNameOut(Utf16ToUtf8(child->name), name, cchName))) return status;
    if (cchClass) {
        const std::string cls = child->keyClass ? Utf16ToUtf8(*child->keyClass) : std::string();
        if ((status = CopyNameOut(cls, keyClass, cchClass))) return status;
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
    const HiveValue* found = key->ValueAt(index);
    if (!found) return ERROR_NO_MORE_ITEMS;
    const HiveValue& v = *found;
    if ((status = CopyNameOut(Utf16ToUtf8(v.name), name, cchName))) return status;
    if (type) *type = v.type;
    return CopyDataOut(ExternalData(v.type, v.data.data(), v.data.size()), data, cbData);
}

LONG HiveRegistry::RegDeleteKeyA(HKEY root, std::string_view subKey) {
    std::vector<std::u16string> names;
    LONG status = SplitKeyPath(subKey, names);
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
    LONG status = ToWideName(name, valueName);
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
    ++scopeDepth_;
    if (forWriting && writeDepth_ == 0) {
        writeDepth_ = scopeDepth_;
        writeStatus_ = PrepareWrite();
        if (writeStatus_ != ERROR_SUCCESS) NoteRefusal(writeStatus_);
    } else if (scopeDepth_ == 1) {
        readStatus_ = PrepareRead();
    }
}

LONG HiveRegistry::EndScope(bool commit) {
    if (scopeDepth_ == 0) return ERROR_SUCCESS;
    LONG status = ERROR_SUCCESS;
    if (scopeDepth_ == writeDepth_) {
        status = writeStatus_;
        if (writeStatus_ == ERROR_SUCCESS) {
            if (commit) {
                status = FinishWrite();
                if (status != ERROR_SUCCESS) NoteRefusal(status);
            } else {
                AbortWrite();
            }
        }
        writeDepth_ = 0;
        writeStatus_ = ERROR_SUCCESS;
        --scopeDepth_;
        AfterWriteInReadScope();
    } else {
        if (scopeDepth_ == 1) status = readStatus_;
        --scopeDepth_;
    }
    if (scopeDepth_ == 0) readStatus_ = ERROR_SUCCESS;
    return status;
}

void HiveRegistry::AfterWriteInReadScope() {
    if (scopeDepth_ > 0 && writeDepth_ == 0) readStatus_ = PrepareRead();
}

void HiveRegistry::NoteRefusal(LONG status) {
    if (refusedWrite_.empty()) refusedWrite_ = RefusalText(status);
}

std::string HiveRegistry::RefusalText(LONG status) const {
    const std::string why = LastErrorText();
    return why.empty() ? "The settings store refused the change (status " + std::to_string(status) + ")." : why;
}

std::string HiveRegistry::TakeRefusedWrite() { return std::exchange(refusedWrite_, {}); }

}  // namespace moatgate

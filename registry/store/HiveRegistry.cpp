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
        if (writing) reg.peekKey_ = nullptr;
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

namespace {

// Handles count up from here in steps of four, as the platform's do; a closed
// handle's number is not given again until its slot has been reused many times.
constexpr HKEY kFirstHandle = 0x100;
constexpr unsigned kSlotBits = 22;
constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr std::uint32_t kRounds = ((HKEY_CLASSES_ROOT - kFirstHandle) / 4) >> kSlotBits;

std::u16string PathOf(const HiveKey* key) {
    std::vector<const HiveKey*> chain;
    for (; key && key->parent; key = key->parent) chain.push_back(key);
    std::u16string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path.push_back(u'\\');
        path += (*it)->name;
    }
    return path;
}

}  // namespace

void HiveRegistry::ReplaceHive(Hive&& hive) {
    Detach(nullptr);
    ForgetHints();
    peekKey_ = nullptr;
    hive_ = std::move(hive);
}

void HiveRegistry::Detach(const HiveKey* key) {
    for (Handle& h : handles_) {
        if (!h.open || !h.key || (key && h.key != key)) continue;
        h.path = PathOf(h.key);
        h.key = nullptr;
    }
}

HiveRegistry::Handle* HiveRegistry::HandleOf(HKEY handle) {
    if (handle < kFirstHandle || handle >= HKEY_CLASSES_ROOT || (handle - kFirstHandle) % 4) return nullptr;
    const std::uint32_t serial = (handle - kFirstHandle) / 4;
    const std::uint32_t slot = serial & kSlotMask;
    if (slot >= handles_.size()) return nullptr;
    Handle& h = handles_[slot];
    return h.open && h.round % kRounds == serial >> kSlotBits ? &h : nullptr;
}

HiveKey* HiveRegistry::Resolve(HKEY handle, LONG& status) {
    status = ERROR_SUCCESS;
    if (handle == HKEY_CURRENT_USER) return &hive_.Root();
    Handle* h = HandleOf(handle);
    if (!h) {
        status = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (!h->key) {
        h->key = hive_.Find(h->path);
        if (h->key) h->path.clear();
    }
    if (!h->key) status = ERROR_KEY_DELETED;
    return h->key;
}

HKEY HiveRegistry::NewHandle(HiveKey* key) {
    std::uint32_t slot = 0;
    if (!freeHandles_.empty()) {
        slot = freeHandles_.back();
        freeHandles_.pop_back();
    } else {
        if (handles_.size() > kSlotMask) return 0;
        slot = static_cast<std::uint32_t>(handles_.size());
        handles_.emplace_back();
    }
    Handle& h = handles_[slot];
    h.key = key;
    h.path.clear();
    h.open = true;
    ++openHandles_;
    return kFirstHandle + 4 * (((h.round % kRounds) << kSlotBits) | slot);
}

LONG HiveRegistry::SplitPath(std::string_view subKey) {
    names_.clear();
    if (!Utf8ToUtf16(subKey, wide_)) return ERROR_INVALID_PARAMETER;
    const std::u16string_view all(wide_);
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(u'\\', start);
        if (end == std::u16string_view::npos) end = all.size();
        if (end > start) names_.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

HiveKey* HiveRegistry::FindChild(HiveKey& parent, std::u16string_view name, std::size_t* place) {
    const HiveKey::Children& children = parent.children;
    const std::size_t size = children.size();
    const NameProbe probe(name);
    Hint* hint = nullptr;
    Hint* oldest = &hints_[0];
    for (Hint& h : hints_) {
        if (h.parent == &parent) hint = &h;
        if (h.used < oldest->used) oldest = &h;
    }
    std::size_t lo = 0, hi = size;
    if (!hint) {
        hint = oldest;
        hint->parent = &parent;
        hint->used = ++hintClock_;
    } else if (hint->used = ++hintClock_; hint->index < size) {
        // Lookups mostly come in the keys' own order: search forward from the last
        // one in growing steps, so that the next key costs a few comparisons.
        const int c = CompareNames(children[hint->index], probe);
        if (c == 0) return children[hint->index].get();
        if (c < 0) {
            lo = hint->index + 1;
            const int next = lo < size ? CompareNames(children[lo], probe) : 1;
            if (next >= 0) {
                hint->index = lo;
                if (place) *place = lo;
                return next == 0 ? children[lo].get() : nullptr;
            }
            ++lo;
            std::size_t step = 1;
            for (; step <= 16; step *= 2) {
                const std::size_t at = lo + step - 1;
                if (at >= size) break;
                if (CompareNames(children[at], probe) >= 0) {
                    hi = at + 1;
                    break;
                }
                lo = at + 1;
            }
            // Further on: the list's own search, which reads fewer items of a
            // long list than steps through it would.
            if (step > 16) lo = 0;
        }
    }
    std::size_t at = lo;
    if (lo == 0 && hi == size) {
        // Nothing to go by: the list's own search, a chunk at a time.
        at = children.LowerBound(probe, NameLess{});
    } else {
        for (std::size_t count = hi - lo; count > 0;) {
            const std::size_t half = count / 2;
            if (CompareNames(children[at + half], probe) < 0) {
                at += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
    }
    hint->index = at;
    if (place) *place = at;
    return at < size && CompareNames(children[at], probe) == 0 ? children[at].get() : nullptr;
}

void HiveRegistry::ForgetHints() {
    for (Hint& h : hints_) h = Hint{};
}

LONG HiveRegistry::OpenKey(HKEY root, std::string_view subKey, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    Operation op(*this, false);
    if (op.Status()) return op.Status();
    LONG status = ERROR_SUCCESS;
    HiveKey* key = Resolve(root, status);
    if (!key) return status;
    if ((status = SplitPath(subKey))) return status;
    for (const auto& n : names_) {
        key = FindChild(*key, n);
        if (!key) return ERROR_FILE_NOT_FOUND;
    }
    *result = NewHandle(key);
    return *result ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
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
    LONG status = SplitPath(subKey);
    if (status) return status;
    std::u16string cls;
    if ((status = ToWideName(keyClass, cls))) return status;
    // The platform's limits: a name of at most 255 characters, a path at most 512 levels deep.
    if (names_.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    for (const auto& n : names_)
        if (n.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;

    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(root, status);
    if (!key) return op.Finish(status);
    if (key->Depth(kMaxKeyDepth) + names_.size() > kMaxKeyDepth) return op.Finish(ERROR_INVALID_PARAMETER);
    bool created = false;
    for (const auto& n : names_) {
        std::size_t place = 0;
        HiveKey* child = FindChild(*key, n, &place);
        if (!child) {
            child = hive_.CreateSubkey(*key, n, cls, true, place);
            created = true;
        }
        key = child;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    const LONG saved = op.Finish(ERROR_SUCCESS);
    if (saved) return saved;
    // The key was stored; if the store was read again meanwhile, the handle finds it by its path.
    *result = NewHandle(key);
    return *result ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
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
    ExternalData(v->type, v->data.data(), v->data.size(), narrow_);
    return CopyDataOut(narrow_, data, cb);
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
    Utf16ToUtf8(child->name, narrow_);
    if ((status = CopyNameOut(narrow_, name, cchName))) return status;
    if (cchClass) {
        Utf16ToUtf8(child->keyClass ? std::u16string_view(*child->keyClass) : std::u16string_view(), narrow_);
        if ((status = CopyNameOut(narrow_, keyClass, cchClass))) return status;
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
    // A key's few values are read from the file's text where they stand, rather
    // than kept, when nothing but this asks for them.
    const HiveValue* found = nullptr;
    if (key->ValuesInText()) {
        if (peekKey_ != key) {
            peekKey_ = hive_.PeekValues(*key, peeked_) ? key : nullptr;
            peekCount_ = peeked_.size();
        }
        if (peekKey_ == key) {
            if (index >= peekCount_) return ERROR_NO_MORE_ITEMS;
            found = &peeked_[index];
        }
    }
    if (!found) found = key->ValueAt(index);
    if (!found) return ERROR_NO_MORE_ITEMS;
    const HiveValue& v = *found;
    Utf16ToUtf8(v.name, narrow_);
    if ((status = CopyNameOut(narrow_, name, cchName))) return status;
    if (type) *type = v.type;
    ExternalData(v.type, v.data.data(), v.data.size(), narrow_);
    return CopyDataOut(narrow_, data, cbData);
}

LONG HiveRegistry::RegDeleteKeyA(HKEY root, std::string_view subKey) {
    LONG status = SplitPath(subKey);
    if (status) return status;
    Operation op(*this, true);
    if (op.Status()) return op.Status();
    HiveKey* key = Resolve(root, status);
    if (!key) return op.Finish(status);
    for (const auto& n : names_) {
        key = FindChild(*key, n);
        if (!key) return op.Finish(ERROR_FILE_NOT_FOUND);
    }
    if (!key->parent || !key->children.empty()) return op.Finish(ERROR_ACCESS_DENIED);
    Detach(key);
    ForgetHints();
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
    Handle* h = HandleOf(handle);
    if (!h) return ERROR_INVALID_HANDLE;
    h->open = false;
    h->key = nullptr;
    h->path.clear();
    ++h->round;
    --openHandles_;
    freeHandles_.push_back(static_cast<std::uint32_t>(h - handles_.data()));
    return ERROR_SUCCESS;
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

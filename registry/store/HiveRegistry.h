// The registry functions implemented over an in-memory hive. The memory store is
// this class as it is; the file store adds loading and saving through the hooks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registry/store/Hive.h"
#include "registry/store/RegistryApi.h"

namespace moatgate {

class HiveRegistry : public RegistryApi {
public:
    HiveRegistry() = default;

    LONG RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD options, REGSAM sam,
                       HKEY* result) override;
    LONG RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) override;
    LONG RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD reserved,
                         std::string_view keyClass, DWORD options, REGSAM sam,
                         const void* security, HKEY* result, DWORD* disposition) override;
    LONG RegSetValueExA(HKEY key, std::string_view name, DWORD reserved, DWORD type,
                        const unsigned char* data, DWORD cb) override;
    LONG RegQueryValueExA(HKEY key, std::string_view name, DWORD* reserved, DWORD* type,
                          unsigned char* data, DWORD* cb) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved,
                       char* keyClass, DWORD* cchClass, void* lastWriteTime) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved,
                       DWORD* type, unsigned char* data, DWORD* cbData) override;
    LONG RegDeleteKeyA(HKEY root, std::string_view subKey) override;
    LONG RegDeleteValueA(HKEY key, std::string_view name) override;
    LONG RegCloseKey(HKEY key) override;

    void BeginScope(bool forWriting) override;
    LONG EndScope(bool commit = true) override;
    std::string TakeRefusedWrite() override;

    Hive& GetHive() { return hive_; }
    std::size_t OpenHandleCount() const { return openHandles_; }

protected:
    // Called before an operation outside any scope, or at a scope's start: make the
    // hive current (and, for writing, hold the store exclusively). A non-zero status
    // fails the operation without touching the hive.
    virtual LONG PrepareRead() { return ERROR_SUCCESS; }
    virtual LONG PrepareWrite() { return ERROR_SUCCESS; }
    // Called after a write operation (or at a write scope's end): persist what
    // changed and release the store. Returns the status of doing so.
    virtual LONG FinishWrite() {
        hive_.ClearChanged();
        return ERROR_SUCCESS;
    }
    // Drops a write scope's changes and releases the store. A memory store cannot
    // undo them.
    virtual void AbortWrite() { hive_.ClearChanged(); }
    // Replaces the hive, e.g. after another process changed the file.
    void ReplaceHive(Hive&& hive);
    // What the user is told when a change with this status could not be made.
    virtual std::string RefusalText(LONG status) const;

    Hive hive_;

private:
    // An open key. Its path is kept only once its key may be gone: the key was
    // deleted, or the whole hive replaced (another process changed the file);
    // the handle then finds its key again by that path, if it is there.
    struct Handle {
        HiveKey* key = nullptr;
        std::u16string path;    // from the root, when `key` is unknown
        std::uint32_t round = 0;  // bumped when the handle is closed
        bool open = false;
    };
    class Operation;

    HiveKey* Resolve(HKEY handle, LONG& status);
    HKEY NewHandle(HiveKey* key);
    Handle* HandleOf(HKEY handle);
    // Handles to `key` (or, with null, to any key) keep its path and let it go.
    void Detach(const HiveKey* key);
    // Splits a UTF-8 key path into `names_` (views into `wide_`); 87 for text
    // that is not UTF-8.
    LONG SplitPath(std::string_view subKey);
    // The child of that name, trying first next to where the last lookup under
    // the same key found one: a walk by name in order costs O(1) per step. When
    // there is none, `place` (if given) is where it would go among the children.
    HiveKey* FindChild(HiveKey& parent, std::u16string_view name, std::size_t* place = nullptr);
    LONG OpenKey(HKEY root, std::string_view subKey, HKEY* result);
    void ForgetHints();
    void NoteRefusal(LONG status);
    // A write ended while a read scope is open: reads in that scope must see the
    // store as it now is, not changes that were never stored.
    void AfterWriteInReadScope();

    std::vector<Handle> handles_;
    std::vector<std::uint32_t> freeHandles_;
    std::size_t openHandles_ = 0;
    std::u16string wide_;                      // the last path split
    std::vector<std::u16string_view> names_;   // its components
    std::string narrow_;                       // a name or data on its way out
    std::vector<HiveValue> peeked_;            // the values of peekKey_, read from the text
    const HiveKey* peekKey_ = nullptr;
    std::size_t peekCount_ = 0;
    // Where the last lookups under a few keys found their child.
    struct Hint {
        const HiveKey* parent = nullptr;
        std::size_t index = 0;
        std::uint64_t used = 0;  // when last used: the least recent goes first
    };
    Hint hints_[4];
    std::uint64_t hintClock_ = 0;
    int scopeDepth_ = 0;
    int writeDepth_ = 0;  // the depth at which the write scope began; 0: none
    LONG readStatus_ = ERROR_SUCCESS;
    LONG writeStatus_ = ERROR_SUCCESS;
    std::string refusedWrite_;
};

// The store for unit tests and benchmarks: a hive that lives in memory only.
class MemoryStore : public HiveRegistry {};

}  // namespace moatgate

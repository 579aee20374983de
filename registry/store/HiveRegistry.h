// The registry functions implemented over an in-memory hive. The memory store is
// this class as it is; the file store adds loading and saving through the hooks.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
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
    std::size_t OpenHandleCount() const { return handles_.size(); }

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
    // A handle's key path: the path below the key it was opened from, and that
    // key's own path, shared. Opening a subkey costs its name, not its whole path.
    struct KeyPath {
        std::shared_ptr<KeyPath> parent;  // null: below the root
        std::u16string relative;          // components joined by backslashes
        KeyPath(std::shared_ptr<KeyPath> from, std::u16string below)
            : parent(std::move(from)), relative(std::move(below)) {}
        ~KeyPath();  // releases a long chain without recursion
        KeyPath(const KeyPath&) = delete;
        KeyPath& operator=(const KeyPath&) = delete;
    };
    struct Handle {
        std::shared_ptr<KeyPath> path;  // null: the root
        HiveKey* key = nullptr;
        std::uint64_t generation = 0;
    };
    class Operation;

    HiveKey* Resolve(HKEY handle, LONG& status);
    HiveKey* Find(const KeyPath* path);
    HKEY NewHandle(HiveKey* key, std::shared_ptr<KeyPath> path);
    std::shared_ptr<KeyPath> PathOf(HKEY handle) const;
    static std::shared_ptr<KeyPath> Below(std::shared_ptr<KeyPath> from, const std::vector<std::u16string>& names);
    // Changes whenever cached key pointers may have gone stale.
    std::uint64_t CurrentGeneration() const { return hive_.Generation() ^ (hiveEpoch_ << 40); }
    LONG OpenKey(HKEY root, std::string_view subKey, HKEY* result);
    void NoteRefusal(LONG status);
    // A write ended while a read scope is open: reads in that scope must see the
    // store as it now is, not changes that were never stored.
    void AfterWriteInReadScope();

    std::unordered_map<HKEY, Handle> handles_;
    HKEY nextHandle_ = 0x100;
    std::uint64_t hiveEpoch_ = 0;  // bumped when the whole hive is replaced
    int scopeDepth_ = 0;
    int writeDepth_ = 0;  // the depth at which the write scope began; 0: none
    LONG readStatus_ = ERROR_SUCCESS;
    LONG writeStatus_ = ERROR_SUCCESS;
    std::string refusedWrite_;
};

// The store for unit tests and benchmarks: a hive that lives in memory only.
class MemoryStore : public HiveRegistry {};

}  // namespace moatgate

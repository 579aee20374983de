// The registry seam: the ten advapi32 functions the program uses, with their
// arguments and status codes. Text crosses this boundary as UTF-8 (the program's
// "ANSI" code page); stores keep names and string data as UTF-16, as Windows does.
#pragma once

#include <string>
#include <string_view>

#include "registry/store/RegistryTypes.h"

namespace moatgate {

class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    // Opens an existing key; never creates one.
    virtual LONG RegOpenKeyExA(HKEY root, std::string_view subKey, DWORD options, REGSAM sam,
                               HKEY* result) = 0;
    virtual LONG RegOpenKeyA(HKEY root, std::string_view subKey, HKEY* result) = 0;
    // Creates the key and any missing keys above it, or opens it if it exists.
    // `keyClass` may be empty (no class). `security` is accepted and ignored.
    virtual LONG RegCreateKeyExA(HKEY root, std::string_view subKey, DWORD reserved,
                                 std::string_view keyClass, DWORD options, REGSAM sam,
                                 const void* security, HKEY* result, DWORD* disposition) = 0;
    // Creates or replaces a value with exactly the bytes given. For the string
    // types, as on the platform, a count that leaves out a terminating zero which
    // follows the data is taken to include it, so `data` must be readable at
    // data[cb] when cb > 0 and data[cb - 1] != 0.
    virtual LONG RegSetValueExA(HKEY key, std::string_view name, DWORD reserved, DWORD type,
                                const unsigned char* data, DWORD cb) = 0;
    // With data == nullptr: type and size only. With a buffer too small: 234 and
    // the size needed in *cb.
    virtual LONG RegQueryValueExA(HKEY key, std::string_view name, DWORD* reserved, DWORD* type,
                                  unsigned char* data, DWORD* cb) = 0;
    // cchName: in, the buffer's size in characters; out, the name's length without
    // its terminator. A name that does not fit gives 234 (never truncated) and
    // *cchName is set to the length needed. Index past the end gives 259.
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName,
                               DWORD* reserved, char* keyClass, DWORD* cchClass,
                               void* lastWriteTime) = 0;
    virtual LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName,
                               DWORD* reserved, DWORD* type, unsigned char* data,
                               DWORD* cbData) = 0;
    // Deletes a key without subkeys, with its values.
    virtual LONG RegDeleteKeyA(HKEY root, std::string_view subKey) = 0;
    virtual LONG RegDeleteValueA(HKEY key, std::string_view name) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;

    // Groups calls into one operation: a store backed by a shared file checks for
    // outside changes once at the start of the scope, and for a write scope holds
    // the file's lock and commits all changes once at its end. Scopes nest; the
    // outermost counts, except that a write scope inside a read scope is a write
    // scope of its own, committed at its own end. The default does nothing.
    virtual void BeginScope(bool /*forWriting*/) {}
    // Returns the status of the commit (0 when nothing had to be written). With
    // commit false, a write scope's changes are dropped instead where the store
    // can do so (a file store keeps its file as it was).
    virtual LONG EndScope(bool /*commit*/ = true) { return ERROR_SUCCESS; }

    // A human-readable account of the last failure that has one (which file, which
    // line), or empty.
    virtual std::string LastErrorText() const { return {}; }

    // Why the store, as last read, refuses every change although it can be read
    // (a file that could be read only in part: which file, which line), or empty.
    virtual std::string UnwritableReason() const { return {}; }

    // The first change the store refused since the last call (the store is busy,
    // read-only, unreadable, full), told for the user: which store, why, and what
    // to do. Empty when nothing was refused. Taking it clears it. Failures the
    // registry's own rules give (a missing key, a key that still has subkeys) are
    // not refusals.
    virtual std::string TakeRefusedWrite() { return {}; }
};

// RAII form of BeginScope/EndScope.
class StoreScope {
public:
    StoreScope(RegistryApi& reg, bool forWriting) : reg_(reg) { reg_.BeginScope(forWriting); }
    ~StoreScope() {
        if (!ended_) reg_.EndScope();
    }
    StoreScope(const StoreScope&) = delete;
    StoreScope& operator=(const StoreScope&) = delete;
    // Ends the scope early and returns the commit status.
    LONG End(bool commit = true) {
        ended_ = true;
        return reg_.EndScope(commit);
    }

private:
    RegistryApi& reg_;
    bool ended_ = false;
};

}  // namespace moatgate

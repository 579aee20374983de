// The in-memory tree of one registry hive, with the registry's own rules: names
// compare without regard to case and keep their first spelling, siblings are kept
// in the registry's sorted order, a change stamps the changed key with the time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "RegistryTypes.h"

namespace moatgate {

struct HiveValue {
    std::u16string name;
    std::u16string folded;
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;  // as stored: string types are UTF-16LE
};

struct FoldedLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const { return a < b; }
};

class HiveKey {
public:
    using Children = std::map<std::u16string, std::unique_ptr<HiveKey>, FoldedLess>;

    std::u16string name;
    HiveKey* parent = nullptr;
    Children children;              // by folded name, in the registry's order
    std::vector<HiveValue> values;  // sorted by folded name
    std::u16string keyClass;
    bool hasClass = false;
    bool isLink = false;
    std::uint64_t modified = 0;  // FILETIME: 100 ns units since 1601
    bool dirty = false;          // its text in a file must be written anew
    std::vector<std::uint32_t> blocks;  // where a file holds it (see FileLayout)

    HiveKey* FindChild(std::u16string_view name) const;
    // The index-th subkey; O(1) amortised when walked in order.
    HiveKey* ChildAt(std::size_t index) const;
    const HiveValue* FindValue(std::u16string_view name) const;
    HiveValue* FindValue(std::u16string_view name);
    // Adds a subkey without stamping anything (for loading).
    HiveKey* AddChild(std::u16string name, std::uint64_t modified);
    // Sets a value without stamping anything (for loading); keeps the first spelling.
    void PutValue(std::u16string name, DWORD type, std::vector<unsigned char> data);

    // The key's path from the hive's root, components joined by `\`.
    std::u16string Path() const;
    void InvalidateCursor() const { cursorValid_ = false; }

private:
    std::size_t ValueIndex(std::u16string_view folded, bool& found) const;

    mutable bool cursorValid_ = false;
    mutable std::size_t cursorIndex_ = 0;
    mutable Children::const_iterator cursor_;
};

class Hive {
public:
    using Clock = std::function<std::uint64_t()>;

    Hive();
    HiveKey& Root() { return *root_; }
    const HiveKey& Root() const { return *root_; }

    // The current time as a FILETIME; tests may set their own clock.
    static std::uint64_t SystemNow();
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    std::uint64_t Now() const { return clock_(); }

    // Finds a key by its folded path components from the root; null if missing.
    HiveKey* Find(const std::vector<std::u16string>& foldedPath) const;

    // Changes made as the registry makes them: each stamps what it changes.
    HiveKey* CreateSubkey(HiveKey& parent, std::u16string name, std::u16string_view keyClass,
                          bool withClass);
    // Returns false (and changes nothing) when the value already holds these bytes.
    bool SetValue(HiveKey& key, std::u16string_view name, DWORD type,
                  std::vector<unsigned char> data);
    bool DeleteValue(HiveKey& key, std::u16string_view name);
    // The key must have no subkeys and must not be the root.
    void DeleteKey(HiveKey& key);

    // Bumped whenever keys disappear, so that cached key pointers are re-resolved.
    std::uint64_t Generation() const { return generation_; }
    bool Changed() const { return changed_; }
    void ClearChanged() { changed_ = false; }
    // File blocks of keys deleted since the last save.
    std::vector<std::uint32_t>& DroppedBlocks() { return droppedBlocks_; }

private:
    void Touch(HiveKey& key);

    std::unique_ptr<HiveKey> root_;
    Clock clock_;
    std::uint64_t generation_ = 0;
    bool changed_ = false;
    std::vector<std::uint32_t> droppedBlocks_;
};

}  // namespace moatgate

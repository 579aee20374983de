// The in-memory tree of one registry hive, with the registry's own rules: names
// compare without regard to case and keep their first spelling, siblings are kept
// in the registry's sorted order, a change stamps the changed key with the time.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <unordered_set>
#include <string>
#include <string_view>
#include <vector>

#include "registry/store/RegistryTypes.h"

namespace moatgate {

struct HiveValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;  // as stored: string types are UTF-16LE
};

class HiveKey;

// Siblings in the registry's order; looked up by name without a folded copy.
struct NameLess {
    using is_transparent = void;
    bool operator()(const std::unique_ptr<HiveKey>& a, const std::unique_ptr<HiveKey>& b) const;
    bool operator()(const std::unique_ptr<HiveKey>& a, std::u16string_view b) const;
    bool operator()(std::u16string_view a, const std::unique_ptr<HiveKey>& b) const;
    bool operator()(const HiveValue& a, const HiveValue& b) const;
    bool operator()(const HiveValue& a, std::u16string_view b) const;
    bool operator()(std::u16string_view a, const HiveValue& b) const;
};

// Walks a sorted set by index: O(1) amortised when the indexes come in order.
template <typename Set>
class IndexCursor {
public:
    const typename Set::value_type* At(const Set& set, std::size_t index) const {
        if (index >= set.size()) return nullptr;
        if (!valid_ || index < index_ || index - index_ > 64) {
            // Restart from whichever end is nearer.
            if (index <= set.size() / 2)
                it_ = std::next(set.begin(), static_cast<std::ptrdiff_t>(index));
            else
                it_ = std::prev(set.end(), static_cast<std::ptrdiff_t>(set.size() - index));
            index_ = index;
            valid_ = true;
        }
        for (; index_ < index; ++index_) ++it_;
        return &*it_;
    }
    void Invalidate() const { valid_ = false; }

private:
    mutable bool valid_ = false;
    mutable std::size_t index_ = 0;
    mutable typename Set::const_iterator it_;
};

class HiveKey {
public:
    using Children = std::set<std::unique_ptr<HiveKey>, NameLess>;
    using Values = std::set<HiveValue, NameLess>;
    static constexpr std::uint32_t kNoBlock = 0xFFFFFFFFu;

    HiveKey() = default;
    // Frees the subtree without recursion: a file may nest keys arbitrarily deep.
    ~HiveKey();
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;

    std::u16string name;
    HiveKey* parent = nullptr;
    Children children;  // in the registry's order
    const std::u16string* keyClass = nullptr;  // shared by the hive; null: no class
    bool isLink = false;
    std::uint64_t modified = 0;  // FILETIME: 100 ns units since 1601

    HiveKey* FindChild(std::u16string_view name) const;
    // The index-th subkey; O(1) amortised when walked in order.
    HiveKey* ChildAt(std::size_t index) const;
    // The values, in the registry's order; changed only through the functions below.
    const Values& values() const { return values_; }
    const HiveValue* ValueAt(std::size_t index) const { return valueCursor_.At(values_, index); }
    const HiveValue* FindValue(std::u16string_view name) const;
    // Adds a subkey without stamping anything (for loading).
    HiveKey* AddChild(std::u16string name, std::uint64_t modified);
    // The subkey of that name, added (unstamped) if missing.
    HiveKey* FindOrAddChild(std::u16string_view name, std::uint64_t modified);
    // Sets a value without stamping anything (for loading); keeps the first spelling.
    void PutValue(std::u16string name, DWORD type, std::vector<unsigned char> data);
    // Removes a value; false if there is none of that name.
    bool RemoveValue(std::u16string_view name);
    // Levels below the root (the root is 0); stops counting past `limit`.
    std::size_t Depth(std::size_t limit) const;

    // Where a file holds the key's text (see FileLayout): usually one block, more
    // when a hand-written file names the key twice.
    void AddBlock(std::uint32_t block);
    std::uint32_t FirstBlock() const { return block_; }
    const std::vector<std::uint32_t>& MoreBlocks() const { return moreBlocks_; }
    void ClearBlocks() {
        block_ = kNoBlock;
        moreBlocks_.clear();
    }

    void InvalidateCursor() const { childCursor_.Invalidate(); }

private:
    Values values_;
    std::uint32_t block_ = kNoBlock;
    std::vector<std::uint32_t> moreBlocks_;
    IndexCursor<Children> childCursor_;
    IndexCursor<Values> valueCursor_;
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

    // Finds a key by its path from the root, components joined by backslashes;
    // null if missing.
    HiveKey* Find(std::u16string_view path) const { return FindBelow(root_.get(), path); }
    static HiveKey* FindBelow(HiveKey* from, std::u16string_view path);
    // One shared copy of each key class (most keys of a zone map share one).
    const std::u16string* InternClass(std::u16string_view keyClass);

    // Changes made as the registry makes them: each stamps what it changes.
    HiveKey* CreateSubkey(HiveKey& parent, std::u16string name, std::u16string_view keyClass,
                          bool withClass);
    // Returns false (and changes nothing) when the value already holds these bytes.
    bool SetValue(HiveKey& key, std::u16string_view name, DWORD type,
                  std::vector<unsigned char> data);
    bool DeleteValue(HiveKey& key, std::u16string_view name);
    // The key must have no subkeys and must not be the root.
    void DeleteKey(HiveKey& key);

    // Keys whose text in a file must be written anew (changed or created) since
    // the last save.
    const std::unordered_set<HiveKey*>& DirtyKeys() const { return dirty_; }
    void ClearDirty() { dirty_.clear(); }

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
    std::unordered_set<HiveKey*> dirty_;
    std::set<std::u16string, std::less<>> classes_;
};

}  // namespace moatgate

// The in-memory tree of one registry hive, with the registry's own rules: names
// compare without regard to case and keep their first spelling, siblings are kept
// in the registry's sorted order, a change stamps the changed key with the time.
//
// A hive read from a file keeps little more than the file's text: keys and their
// names live in blocks of the hive's own memory, and a key's values stay in the
// text until they are first asked for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/store/LargePages.h"
#include "registry/store/RegistryTypes.h"
#include "registry/store/SortedList.h"
#include "registry/store/Unicode.h"

namespace moatgate {

struct HiveValue {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;  // as stored: string types are UTF-16LE
};

class HiveKey;
class Hive;
class NameProbe;

// A subkey as its parent lists it, with its name's prefix (NamePrefixWords) beside it:
// a search among many siblings then reads few of the keys themselves, each of
// which is elsewhere in memory. The hive owns every key.
class KeyRef {
public:
    KeyRef() = default;
    // A key named as `probe` is: its prefix is the probe's.
    KeyRef(HiveKey* key, const NameProbe& probe);
    HiveKey* get() const { return key_; }
    HiveKey* operator->() const { return key_; }
    HiveKey& operator*() const { return *key_; }
    const NamePrefixWords& prefix() const { return prefix_; }

private:
    HiveKey* key_ = nullptr;
    NamePrefixWords prefix_;
};

// A name to look up among siblings, its prefix worked out once: the second word
// only when a sibling's first one is the same (a lookup makes a probe for every
// component of its path, and most are told apart by the first word).
class NameProbe {
public:
    explicit NameProbe(std::u16string_view n) : name(n), first(NamePrefixWord(n, 0)) {}
    std::uint64_t Second() const {
        if (!haveSecond_) {
            second_ = NamePrefixSecond(name, first);
            haveSecond_ = true;
        }
        return second_;
    }

    std::u16string_view name;
    std::uint64_t first;

private:
    mutable std::uint64_t second_ = 0;
    mutable bool haveSecond_ = false;
};

// Siblings in the registry's order: subkeys by the prefixes beside them, reading
// their names only where those cannot decide; values by their names.
struct NameLess {
    using is_transparent = void;
    bool operator()(const KeyRef& a, const KeyRef& b) const;
    bool operator()(const KeyRef& a, const NameProbe& b) const;
    bool operator()(const NameProbe& a, const KeyRef& b) const;
    bool operator()(const HiveValue& a, const HiveValue& b) const;
    bool operator()(const HiveValue& a, std::u16string_view b) const;
    bool operator()(std::u16string_view a, const HiveValue& b) const;
};

// The text a hive was read from, with where each key's block lies in it. The hive
// and the layout that writes the file back share it: a key whose values were not
// asked for yet reads them from its blocks here.
struct HiveText {
    // A block's blank and comment lines before its header run from where the
    // block before it in the file ends (or the preamble, for the first).
    struct Block {
        HiveKey* key = nullptr;      // null once the key is gone
        std::uint32_t bodyBegin = 0; // the header line
        std::uint32_t bodyEnd = 0;   // after the key's last option or value line
    };
    std::string text;
    LargeVector<Block> blocks;  // by number; a key keeps its numbers across saves
};

class HiveKey {
public:
    using Children = SortedList<KeyRef, 512>;
    using Values = SortedList<HiveValue, 64>;
    static constexpr std::uint32_t kNoBlock = 0xFFFFFFFFu;

    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;

    std::u16string_view name;  // held by the hive
    HiveKey* parent = nullptr;
    Children children;  // in the registry's order
    const std::u16string* keyClass = nullptr;  // shared by the hive; null: no class
    std::uint64_t modified = 0;  // FILETIME: 100 ns units since 1601

    HiveKey* FindChild(std::u16string_view name) const;
    // The index-th subkey; O(1) amortised when walked in order.
    HiveKey* ChildAt(std::size_t index) const { return index < children.size() ? children[index].get() : nullptr; }
    // The values, in the registry's order; changed only through the functions
    // below. Read from the file's text the first time any of these is called.
    const Values& values() const;
    const HiveValue* ValueAt(std::size_t index) const;
    const HiveValue* FindValue(std::u16string_view name) const;
    // Asks the processor for what writing the key out reads besides the key: its
    // name and its values. Keys made in scrambled order lie scattered in memory.
    void PrefetchContents() const {
        __builtin_prefetch(name.data());
        values_.Prefetch();
    }
    // Whether the values are still only in the file's text (not read yet).
    bool ValuesInText() const { return valuesInText_; }
    // Sets a value without stamping anything; keeps the first spelling.
    void PutValue(std::u16string name, DWORD type, std::vector<unsigned char> data);
    // Removes a value; false if there is none of that name.
    bool RemoveValue(std::u16string_view name);
    // Levels below the root (the root is 0); stops counting past `limit`.
    std::size_t Depth(std::size_t limit) const;

    // The first block of the key's text in the file (see HiveText), if any; a
    // hand-written file may name a key in further blocks (Hive::MoreBlocks).
    std::uint32_t FirstBlock() const { return block_; }

protected:
    // Only a hive makes keys, in its own memory.
    HiveKey() = default;
    ~HiveKey() = default;

private:
    friend class Hive;

    mutable Values values_;
    std::uint32_t block_ = kNoBlock;

public:
    bool isLink = false;

private:
    mutable bool valuesInText_ : 1 = false;
    bool dirty_ : 1 = false;       // listed in Hive::DirtyKeys
    bool moreBlocks_ : 1 = false;  // the hive lists further blocks
    bool deleted_ : 1 = false;     // gone, kept until the hive forgets what changed
};

inline KeyRef::KeyRef(HiveKey* key, const NameProbe& probe) : key_(key), prefix_{probe.first, probe.Second()} {}

// A sibling's order against a name: CompareNames, mostly decided by the first
// words of the prefixes; where those are the same, by CompareTiedNames.
int CompareTiedNames(const KeyRef& a, const NameProbe& b);
inline int CompareNames(const KeyRef& a, const NameProbe& b) {
    if (a.prefix().first == b.first) return CompareTiedNames(a, b);
    if (const int c = ComparePrefixWords(a.prefix().first, b.first)) return c;
    return CompareNames(a->name, b.name);
}

class Hive {
public:
    using Clock = std::function<std::uint64_t()>;

    Hive();
    ~Hive();
    Hive(Hive&& other) noexcept;
    Hive& operator=(Hive&& other) noexcept;
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    HiveKey& Root();
    const HiveKey& Root() const;

    // The current time as a FILETIME; tests may set their own clock.
    static std::uint64_t SystemNow();
    void SetClock(Clock clock) { clock_ = std::move(clock); }
    std::uint64_t Now() const { return clock_(); }

    // Finds a key by its path from the root, components joined by backslashes;
    // null if missing.
    HiveKey* Find(std::u16string_view path) const;
    static HiveKey* FindBelow(HiveKey* from, std::u16string_view path);
    // One shared copy of each key class (most keys of a zone map share one).
    const std::u16string* InternClass(std::u16string_view keyClass);

    // Changes made as the registry makes them: each stamps what it changes.
    // `place`, where a search just found the name would go among the parent's
    // children, spares a second search; a wrong one is not trusted.
    static constexpr std::size_t kFindPlace = static_cast<std::size_t>(-1);
    HiveKey* CreateSubkey(HiveKey& parent, std::u16string_view name, std::u16string_view keyClass,
                          bool withClass, std::size_t place = kFindPlace);
    // Returns false (and changes nothing) when the value already holds these bytes.
    bool SetValue(HiveKey& key, std::u16string_view name, DWORD type,
                  std::vector<unsigned char> data);
    bool DeleteValue(HiveKey& key, std::u16string_view name);
    // The key must have no subkeys and must not be the root.
    void DeleteKey(HiveKey& key);

    // For reading a file: the subkey of that name, added (unstamped) if missing.
    HiveKey* FindOrAddChild(HiveKey& parent, std::u16string_view name, std::uint64_t modified);
    // For reading a file: the text the keys' blocks are in; the key's values stay
    // there until asked for.
    void SetText(std::shared_ptr<HiveText> text) { text_ = std::move(text); }
    const std::shared_ptr<HiveText>& Text() const { return text_; }
    void LeaveValuesInText(HiveKey& key) { key.valuesInText_ = true; }
    // For reading a file: room made at once for about this many new keys and bytes
    // of their names, so that a large file's keys lie in few blocks of large pages.
    void Reserve(std::size_t keys, std::size_t nameBytes);
    // The values of a key whose values are still in the text, read from there
    // without keeping them, when that is sure to give them as the key would: a few
    // values in one block, in order. False otherwise.
    bool PeekValues(const HiveKey& key, std::vector<HiveValue>& values) const;

    // Where a file holds each key's text: usually one block, more when a
    // hand-written file names the key twice.
    void AddBlock(HiveKey& key, std::uint32_t block);
    const std::vector<std::uint32_t>& MoreBlocks(const HiveKey& key) const;
    void ClearBlocks(HiveKey& key);

    // Keys whose text in a file must be written anew (changed or created) since
    // the last save, in the order they changed; keys deleted since are marked so.
    const std::vector<HiveKey*>& DirtyKeys() const { return dirty_; }
    static bool IsDirty(const HiveKey& key) { return key.dirty_; }
    static bool IsDeleted(const HiveKey& key) { return key.deleted_; }
    void ClearDirty();

    // Bumped whenever keys disappear, so that cached key pointers are re-resolved.
    std::uint64_t Generation() const { return generation_; }
    bool Changed() const { return changed_; }
    void ClearChanged() { changed_ = false; }
    // File blocks of keys deleted since the last save.
    std::vector<std::uint32_t>& DroppedBlocks() { return droppedBlocks_; }

private:
    friend class HiveKey;
    struct RootKey;
    void Touch(HiveKey& key);
    void MarkDirty(HiveKey& key);
    HiveKey* NewKey(HiveKey& parent, std::u16string_view name, std::uint64_t modified);
    void* Allocate(std::size_t bytes, std::size_t align);
    void* AllocateKey();
    void DestroyAll();
    // Reads the values of a key from the text it was read from.
    void ReadValues(const HiveKey& key);

    std::unique_ptr<RootKey> root_;
    Clock clock_;
    std::uint64_t generation_ = 0;
    bool changed_ = false;
    std::vector<std::uint32_t> droppedBlocks_;
    std::vector<HiveKey*> dirty_;
    std::set<std::u16string, std::less<>> classes_;
    std::unordered_map<const HiveKey*, std::vector<std::uint32_t>> moreBlocks_;
    std::shared_ptr<HiveText> text_;
    // Keys, side by side in blocks, and their names: freed with the hive.
    struct KeyBlock {
        LargeBlock memory;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };
    void AddKeyBlock(std::size_t keys);
    void AddArenaBlock(std::size_t bytes);
    std::vector<KeyBlock> keyBlocks_;
    std::vector<LargeBlock> arena_;
    unsigned char* arenaNext_ = nullptr;
    std::size_t arenaLeft_ = 0;
    std::vector<HiveKey*> freeKeys_;  // deleted keys, emptied, for new keys
};

}  // namespace moatgate

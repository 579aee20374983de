#include "registry/store/Hive.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <utility>

#include "registry/store/LargePages.h"
#include "registry/store/Unicode.h"
#include "registry/store/WineRegFormat.h"

namespace moatgate {

bool NameLess::operator()(const KeyRef& a, const KeyRef& b) const {
    if (const int c = ComparePrefixes(a.prefix(), b.prefix())) return c < 0;
    return CompareNames(a->name, b->name) < 0;
}

int CompareTiedNames(const KeyRef& a, const NameProbe& b) {
    if (const int c = ComparePrefixWords(a.prefix().second, b.Second())) return c;
    return CompareNames(a->name, b.name);
}

bool NameLess::operator()(const KeyRef& a, const NameProbe& b) const { return CompareNames(a, b) < 0; }
bool NameLess::operator()(const NameProbe& a, const KeyRef& b) const { return CompareNames(b, a) > 0; }
bool NameLess::operator()(const HiveValue& a, const HiveValue& b) const { return CompareNames(a.name, b.name) < 0; }
bool NameLess::operator()(const HiveValue& a, std::u16string_view b) const { return CompareNames(a.name, b) < 0; }
bool NameLess::operator()(std::u16string_view a, const HiveValue& b) const { return CompareNames(a, b.name) < 0; }

// The root knows its hive, so that any key can find the text its values are in.
struct Hive::RootKey : HiveKey {
    Hive* hive = nullptr;
};

static_assert(sizeof(HiveKey) <= 64, "a key takes one cache line");

namespace {

constexpr std::size_t kFirstArenaBlock = 16 * 1024;
constexpr std::size_t kLargestArenaBlock = 8 * 1024 * 1024;

}  // namespace

HiveKey* HiveKey::FindChild(std::u16string_view n) const {
    const NameProbe probe(n);
    const std::size_t at = children.LowerBound(probe, NameLess{});
    if (at == children.size()) return nullptr;
    return CompareNames(children[at], probe) == 0 ? children[at].get() : nullptr;
}

const HiveKey::Values& HiveKey::values() const {
    if (valuesInText_) {
        const HiveKey* root = this;
        while (root->parent) root = root->parent;
        static_cast<const Hive::RootKey*>(root)->hive->ReadValues(*this);
    }
    return values_;
}

const HiveValue* HiveKey::ValueAt(std::size_t index) const {
    const Values& all = values();
    return index < all.size() ? &all[index] : nullptr;
}

const HiveValue* HiveKey::FindValue(std::u16string_view n) const {
    const Values& all = values();
    const std::size_t at = all.LowerBound(n, NameLess{});
    return at < all.size() && CompareNames(all[at].name, n) == 0 ? &all[at] : nullptr;
}

void HiveKey::PutValue(std::u16string valueName, DWORD type, std::vector<unsigned char> data) {
    values();
    const std::size_t at = values_.LowerBound(std::u16string_view(valueName), NameLess{});
    if (at < values_.size() && CompareNames(values_[at].name, valueName) == 0) {
        // Replace the data in place of the old; the name keeps its first spelling.
        HiveValue& v = values_.Mutable(at);
        v.type = type;
        v.data = std::move(data);
        return;
    }
    values_.Insert(at, HiveValue{std::move(valueName), type, std::move(data)});
}

bool HiveKey::RemoveValue(std::u16string_view n) {
    values();
    const std::size_t at = values_.LowerBound(n, NameLess{});
    if (at == values_.size() || CompareNames(values_[at].name, n) != 0) return false;
    values_.Erase(at);
    return true;
}

std::size_t HiveKey::Depth(std::size_t limit) const {
    std::size_t depth = 0;
    for (const HiveKey* k = this; k->parent && depth <= limit; k = k->parent) ++depth;
    return depth;
}

Hive::Hive() : root_(std::make_unique<RootKey>()), clock_(&Hive::SystemNow) { root_->hive = this; }

Hive::~Hive() { DestroyAll(); }

HiveKey& Hive::Root() { return *root_; }
const HiveKey& Hive::Root() const { return *root_; }
HiveKey* Hive::Find(std::u16string_view path) const { return FindBelow(root_.get(), path); }

Hive::Hive(Hive&& other) noexcept
    : root_(std::move(other.root_)),
      clock_(std::move(other.clock_)),
      generation_(other.generation_),
      changed_(other.changed_),
      droppedBlocks_(std::move(other.droppedBlocks_)),
      dirty_(std::move(other.dirty_)),
      classes_(std::move(other.classes_)),
      moreBlocks_(std::move(other.moreBlocks_)),
      text_(std::move(other.text_)),
      keyBlocks_(std::move(other.keyBlocks_)),
      arena_(std::move(other.arena_)),
      arenaNext_(std::exchange(other.arenaNext_, nullptr)),
      arenaLeft_(std::exchange(other.arenaLeft_, 0)),
      freeKeys_(std::move(other.freeKeys_)) {
    root_->hive = this;
    other.root_ = std::make_unique<RootKey>();
    other.root_->hive = &other;
    other.clock_ = &Hive::SystemNow;
}

Hive& Hive::operator=(Hive&& other) noexcept {
    if (this == &other) return *this;
    DestroyAll();
    root_ = std::move(other.root_);
    root_->hive = this;
    clock_ = std::move(other.clock_);
    generation_ = other.generation_;
    changed_ = other.changed_;
    droppedBlocks_ = std::move(other.droppedBlocks_);
    dirty_ = std::move(other.dirty_);
    classes_ = std::move(other.classes_);
    moreBlocks_ = std::move(other.moreBlocks_);
    text_ = std::move(other.text_);
    keyBlocks_ = std::move(other.keyBlocks_);
    arena_ = std::move(other.arena_);
    arenaNext_ = std::exchange(other.arenaNext_, nullptr);
    arenaLeft_ = std::exchange(other.arenaLeft_, 0);
    freeKeys_ = std::move(other.freeKeys_);
    other.root_ = std::make_unique<RootKey>();
    other.root_->hive = &other;
    other.clock_ = &Hive::SystemNow;
    return *this;
}

void Hive::DestroyAll() {
    // Every key ever made is still in its block (deleted ones emptied): one pass
    // over the blocks, in memory order, without walking the tree.
    for (KeyBlock& block : keyBlocks_)
        for (std::size_t i = 0; i < block.used; ++i)
            reinterpret_cast<HiveKey*>(block.memory.get() + i * sizeof(HiveKey))->~HiveKey();
    keyBlocks_.clear();
    dirty_.clear();
    freeKeys_.clear();
    root_.reset();
    arena_.clear();
    arenaNext_ = nullptr;
    arenaLeft_ = 0;
}

void Hive::AddKeyBlock(std::size_t keys) {
    LargeBlock memory(keys * sizeof(HiveKey));
    const std::size_t capacity = memory.size() / sizeof(HiveKey);
    keyBlocks_.push_back({std::move(memory), capacity, 0});
}

void Hive::AddArenaBlock(std::size_t bytes) {
    arena_.emplace_back(bytes);
    arenaNext_ = arena_.back().get();
    arenaLeft_ = arena_.back().size();
}

void Hive::Reserve(std::size_t keys, std::size_t nameBytes) {
    // A guess from a file's size: bounded, so that a huge file asks for no more
    // at once than a large store needs; the blocks grow past it as usual.
    // Below a large page the blocks that grow from the heap do as well, and a
    // process that loads again gets them back without faulting their pages anew.
    keys = std::min<std::size_t>(keys, std::size_t{1} << 20);
    nameBytes = std::min<std::size_t>(nameBytes, std::size_t{64} << 20);
    if (keys * sizeof(HiveKey) >= LargeBlock::kLargePage &&
        keys > (keyBlocks_.empty() ? 0 : keyBlocks_.back().capacity - keyBlocks_.back().used))
        AddKeyBlock(keys);
    if (nameBytes >= LargeBlock::kLargePage && nameBytes > arenaLeft_) AddArenaBlock(nameBytes);
}

void* Hive::AllocateKey() {
    if (keyBlocks_.empty() || keyBlocks_.back().used == keyBlocks_.back().capacity)
        AddKeyBlock(std::size_t{256} << std::min<std::size_t>(keyBlocks_.size(), 9));
    KeyBlock& block = keyBlocks_.back();
    return block.memory.get() + block.used++ * sizeof(HiveKey);
}

void* Hive::Allocate(std::size_t bytes, std::size_t align) {
    std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(arenaNext_) % align) % align;
    if (!arenaNext_ || pad + bytes > arenaLeft_) {
        // Blocks grow with the hive: a small store stays small, a large one
        // takes few blocks.
        const std::size_t size = std::min(kLargestArenaBlock, kFirstArenaBlock << std::min<std::size_t>(arena_.size(), 9));
        AddArenaBlock(std::max(size, bytes + align));
        pad = (align - reinterpret_cast<std::uintptr_t>(arenaNext_) % align) % align;
    }
    void* p = arenaNext_ + pad;
    arenaNext_ += pad + bytes;
    arenaLeft_ -= pad + bytes;
    return p;
}

HiveKey* Hive::NewKey(HiveKey& parent, std::u16string_view keyName, std::uint64_t time) {
    HiveKey* key = nullptr;
    if (!freeKeys_.empty()) {
        key = freeKeys_.back();
        freeKeys_.pop_back();
        key->~HiveKey();
        new (key) HiveKey();
    } else {
        key = new (AllocateKey()) HiveKey();
    }
    if (!keyName.empty()) {
        auto* chars = static_cast<char16_t*>(Allocate(keyName.size() * sizeof(char16_t), alignof(char16_t)));
        std::memcpy(chars, keyName.data(), keyName.size() * sizeof(char16_t));
        key->name = std::u16string_view(chars, keyName.size());
    }
    key->parent = &parent;
    key->modified = time;
    return key;
}

std::uint64_t Hive::SystemNow() {
    using namespace std::chrono;
    constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;
    const auto since1970 =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return kTicks1601To1970 + static_cast<std::uint64_t>(since1970);
}

HiveKey* Hive::FindBelow(HiveKey* from, std::u16string_view path) {
    HiveKey* key = from;
    std::size_t start = 0;
    while (key && start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) key = key->FindChild(path.substr(start, end - start));
        start = end + 1;
    }
    return key;
}

const std::u16string* Hive::InternClass(std::u16string_view keyClass) {
    auto it = classes_.find(keyClass);
    if (it == classes_.end()) it = classes_.emplace(keyClass).first;
    return &*it;
}

HiveKey* Hive::FindOrAddChild(HiveKey& parent, std::u16string_view childName, std::uint64_t time) {
    HiveKey::Children& children = parent.children;
    // Files list keys in the registry's order: a new key mostly comes last.
    const NameProbe probe(childName);
    std::size_t at = children.size();
    if (at == 0 || CompareNames(children.back(), probe) < 0) {
        // appended below
    } else {
        at = children.LowerBound(probe, NameLess{});
        if (at < children.size() && CompareNames(children[at], probe) == 0) return children[at].get();
    }
    HiveKey* child = NewKey(parent, childName, time);
    children.Insert(at, KeyRef(child, probe));
    return child;
}

void Hive::MarkDirty(HiveKey& key) {
    if (key.dirty_) return;
    key.dirty_ = true;
    dirty_.push_back(&key);
}

void Hive::Touch(HiveKey& key) {
    key.modified = Now();
    MarkDirty(key);
    changed_ = true;
}

void Hive::ClearDirty() {
    for (HiveKey* key : dirty_) {
        key->dirty_ = false;
        if (key->deleted_) freeKeys_.push_back(key);
    }
    dirty_.clear();
}

HiveKey* Hive::CreateSubkey(HiveKey& parent, std::u16string_view childName, std::u16string_view keyClass,
                            bool withClass, std::size_t place) {
    HiveKey::Children& children = parent.children;
    const std::size_t size = children.size();
    const NameProbe probe(childName);
    const bool fits = place <= size && (place == 0 || CompareNames(children[place - 1], probe) < 0) &&
                      (place == size || CompareNames(children[place], probe) > 0);
    if (!fits) {
        // Keys made in order (an import of an export) go last.
        const bool last = size == 0 || CompareNames(children.back(), probe) < 0;
        place = last ? size : children.LowerBound(probe, NameLess{});
    }
    HiveKey* child = NewKey(parent, childName, Now());
    children.Insert(place, KeyRef(child, probe));
    MarkDirty(*child);
    if (withClass && !keyClass.empty()) child->keyClass = InternClass(keyClass);
    Touch(parent);
    return child;
}

bool Hive::SetValue(HiveKey& key, std::u16string_view valueName, DWORD type,
                    std::vector<unsigned char> data) {
    if (const HiveValue* existing = key.FindValue(valueName)) {
        if (existing->type == type && existing->data == data) return false;
    }
    key.PutValue(std::u16string(valueName), type, std::move(data));
    Touch(key);
    return true;
}

bool Hive::DeleteValue(HiveKey& key, std::u16string_view valueName) {
    if (!key.RemoveValue(valueName)) return false;
    Touch(key);
    return true;
}

void Hive::DeleteKey(HiveKey& key) {
    HiveKey* parent = key.parent;
    if (key.block_ != HiveKey::kNoBlock) droppedBlocks_.push_back(key.block_);
    if (key.moreBlocks_) {
        const auto& more = moreBlocks_[&key];
        droppedBlocks_.insert(droppedBlocks_.end(), more.begin(), more.end());
        moreBlocks_.erase(&key);
        key.moreBlocks_ = false;
    }
    key.block_ = HiveKey::kNoBlock;
    HiveKey::Children& siblings = parent->children;
    const std::size_t at = siblings.LowerBound(NameProbe(key.name), NameLess{});
    if (at < siblings.size() && siblings[at].get() == &key) siblings.Erase(at);
    ++generation_;
    Touch(*parent);
    key.values_.Clear();
    key.valuesInText_ = false;
    key.parent = nullptr;
    if (key.dirty_) {
        // Listed among the keys that changed: kept (marked) until that list is cleared.
        key.deleted_ = true;
    } else {
        freeKeys_.push_back(&key);
    }
}

void Hive::AddBlock(HiveKey& key, std::uint32_t block) {
    if (key.block_ == HiveKey::kNoBlock) {
        key.block_ = block;
    } else {
        moreBlocks_[&key].push_back(block);
        key.moreBlocks_ = true;
    }
}

const std::vector<std::uint32_t>& Hive::MoreBlocks(const HiveKey& key) const {
    static const std::vector<std::uint32_t> none;
    if (!key.moreBlocks_) return none;
    const auto it = moreBlocks_.find(&key);
    return it == moreBlocks_.end() ? none : it->second;
}

void Hive::ClearBlocks(HiveKey& key) {
    key.block_ = HiveKey::kNoBlock;
    if (key.moreBlocks_) {
        moreBlocks_.erase(&key);
        key.moreBlocks_ = false;
    }
}

bool Hive::PeekValues(const HiveKey& key, std::vector<HiveValue>& values) const {
    if (!key.valuesInText_ || key.moreBlocks_ || !text_ || key.block_ == HiveKey::kNoBlock) return false;
    return PeekBlockValues(*text_, key.block_, values);
}

void Hive::ReadValues(const HiveKey& key) {
    std::vector<HiveValue> values;
    if (text_) {
        if (key.block_ != HiveKey::kNoBlock) ReadBlockValues(*text_, key.block_, values);
        for (std::uint32_t more : MoreBlocks(key)) ReadBlockValues(*text_, more, values);
    }
    // In the registry's order; a name given twice keeps its first spelling and its
    // last data. Files mostly list values in order already.
    bool ordered = true;
    for (std::size_t i = 1; i < values.size() && ordered; ++i)
        ordered = CompareNames(values[i - 1].name, values[i].name) < 0;
    if (!ordered) {
        std::stable_sort(values.begin(), values.end(), NameLess{});
        std::size_t out = 0;
        for (std::size_t i = 0; i < values.size();) {
            std::size_t j = i + 1;
            while (j < values.size() && CompareNames(values[i].name, values[j].name) == 0) ++j;
            if (out != i) values[out].name = std::move(values[i].name);
            values[out].type = values[j - 1].type;
            if (out != j - 1) values[out].data = std::move(values[j - 1].data);
            ++out;
            i = j;
        }
        values.resize(out);
    }
    key.values_.Assign(std::move(values));
    key.valuesInText_ = false;
}

}  // namespace moatgate

#include "registry/store/Hive.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <utility>

#include "registry/store/Unicode.h"

namespace moatgate {

bool NameLess::operator()(const std::unique_ptr<HiveKey>& a, const std::unique_ptr<HiveKey>& b) const {
    return CompareNames(a->name, b->name) < 0;
}
bool NameLess::operator()(const std::unique_ptr<HiveKey>& a, std::u16string_view b) const {
    return CompareNames(a->name, b) < 0;
}
bool NameLess::operator()(std::u16string_view a, const std::unique_ptr<HiveKey>& b) const {
    return CompareNames(a, b->name) < 0;
}
bool NameLess::operator()(const HiveValue& a, const HiveValue& b) const { return CompareNames(a.name, b.name) < 0; }
bool NameLess::operator()(const HiveValue& a, std::u16string_view b) const { return CompareNames(a.name, b) < 0; }
bool NameLess::operator()(std::u16string_view a, const HiveValue& b) const { return CompareNames(a, b.name) < 0; }

HiveKey::~HiveKey() {
    // Each key is destroyed only once its own subkeys have been moved out, so no
    // destructor runs inside another.
    std::vector<std::unique_ptr<HiveKey>> doomed;
    auto takeChildren = [&doomed](Children& from) {
        while (!from.empty()) doomed.push_back(std::move(from.extract(from.begin()).value()));
    };
    takeChildren(children);
    while (!doomed.empty()) {
        std::unique_ptr<HiveKey> key = std::move(doomed.back());
        doomed.pop_back();
        takeChildren(key->children);
    }
}

HiveKey* HiveKey::FindChild(std::u16string_view n) const {
    const auto it = children.find(n);
    return it == children.end() ? nullptr : it->get();
}

HiveKey* HiveKey::ChildAt(std::size_t index) const {
    const auto* child = childCursor_.At(children, index);
    return child ? child->get() : nullptr;
}

const HiveValue* HiveKey::FindValue(std::u16string_view n) const {
    const auto it = values_.find(n);
    return it == values_.end() ? nullptr : &*it;
}

HiveKey* HiveKey::AddChild(std::u16string childName, std::uint64_t time) {
    auto child = std::make_unique<HiveKey>();
    child->name = std::move(childName);
    child->parent = this;
    child->modified = time;
    HiveKey* raw = child.get();
    children.insert(std::move(child));
    childCursor_.Invalidate();
    return raw;
}

HiveKey* HiveKey::FindOrAddChild(std::u16string_view childName, std::uint64_t time) {
    const auto at = children.lower_bound(childName);
    if (at != children.end() && CompareNames((*at)->name, childName) == 0) return at->get();
    auto child = std::make_unique<HiveKey>();
    child->name = childName;
    child->parent = this;
    child->modified = time;
    HiveKey* raw = child.get();
    children.emplace_hint(at, std::move(child));
    childCursor_.Invalidate();
    return raw;
}

void HiveKey::PutValue(std::u16string valueName, DWORD type, std::vector<unsigned char> data) {
    valueCursor_.Invalidate();
    const auto at = values_.lower_bound(std::u16string_view(valueName));
    if (at != values_.end() && CompareNames(at->name, valueName) == 0) {
        // Replace the data in place of the old; the name keeps its first spelling.
        const auto next = std::next(at);
        auto node = values_.extract(at);
        node.value().type = type;
        node.value().data = std::move(data);
        values_.insert(next, std::move(node));
        return;
    }
    values_.insert(at, HiveValue{std::move(valueName), type, std::move(data)});
}

bool HiveKey::RemoveValue(std::u16string_view n) {
    const auto it = values_.find(n);
    if (it == values_.end()) return false;
    values_.erase(it);
    valueCursor_.Invalidate();
    return true;
}

std::size_t HiveKey::Depth(std::size_t limit) const {
    std::size_t depth = 0;
    for (const HiveKey* k = this; k->parent && depth <= limit; k = k->parent) ++depth;
    return depth;
}

void HiveKey::AddBlock(std::uint32_t block) {
    if (block_ == kNoBlock)
        block_ = block;
    else
        moreBlocks_.push_back(block);
}

Hive::Hive() : root_(std::make_unique<HiveKey>()), clock_(&Hive::SystemNow) {}

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

void Hive::Touch(HiveKey& key) {
    key.modified = Now();
    dirty_.insert(&key);
    changed_ = true;
}

HiveKey* Hive::CreateSubkey(HiveKey& parent, std::u16string childName,
                            std::u16string_view keyClass, bool withClass) {
    HiveKey* child = parent.AddChild(std::move(childName), Now());
    dirty_.insert(child);
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
    if (key.FirstBlock() != HiveKey::kNoBlock) droppedBlocks_.push_back(key.FirstBlock());
    droppedBlocks_.insert(droppedBlocks_.end(), key.MoreBlocks().begin(), key.MoreBlocks().end());
    dirty_.erase(&key);
    parent->children.erase(parent->children.find(std::u16string_view(key.name)));  // destroys `key`
    parent->InvalidateCursor();
    ++generation_;
    Touch(*parent);
}

}  // namespace moatgate

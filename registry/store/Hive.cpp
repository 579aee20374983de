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

HiveKey* HiveKey::FindChild(std::u16string_view n) const {
    const auto it = children.find(n);
    return it == children.end() ? nullptr : it->get();
}

HiveKey* HiveKey::ChildAt(std::size_t index) const {
    if (index >= children.size()) return nullptr;
    if (!cursorValid_ || index < cursorIndex_ || index - cursorIndex_ > 64) {
        // Restart from whichever end is nearer; sequential walks stay O(1) per step.
        if (index <= children.size() / 2) {
            cursor_ = std::next(children.begin(), static_cast<std::ptrdiff_t>(index));
        } else {
            cursor_ = std::prev(children.end(),
                                static_cast<std::ptrdiff_t>(children.size() - index));
        }
        cursorIndex_ = index;
        cursorValid_ = true;
    }
    while (cursorIndex_ < index) {
        ++cursor_;
        ++cursorIndex_;
    }
    return cursor_->get();
}

std::size_t HiveKey::ValueIndex(std::u16string_view n, bool& found) const {
    const auto it = std::lower_bound(
        values.begin(), values.end(), n,
        [](const HiveValue& v, std::u16string_view x) { return CompareNames(v.name, x) < 0; });
    found = it != values.end() && CompareNames(it->name, n) == 0;
    return static_cast<std::size_t>(it - values.begin());
}

const HiveValue* HiveKey::FindValue(std::u16string_view n) const {
    bool found = false;
    const std::size_t i = ValueIndex(n, found);
    return found ? &values[i] : nullptr;
}

HiveValue* HiveKey::FindValue(std::u16string_view n) {
    return const_cast<HiveValue*>(static_cast<const HiveKey*>(this)->FindValue(n));
}

HiveKey* HiveKey::AddChild(std::u16string childName, std::uint64_t time) {
    auto child = std::make_unique<HiveKey>();
    child->name = std::move(childName);
    child->parent = this;
    child->modified = time;
    HiveKey* raw = child.get();
    children.insert(std::move(child));
    cursorValid_ = false;
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
    cursorValid_ = false;
    return raw;
}

void HiveKey::PutValue(std::u16string valueName, DWORD type, std::vector<unsigned char> data) {
    bool found = false;
    const std::size_t i = ValueIndex(valueName, found);
    if (found) {
        values[i].type = type;
        values[i].data = std::move(data);
        return;
    }
    values.insert(values.begin() + static_cast<std::ptrdiff_t>(i), HiveValue{std::move(valueName), type, std::move(data)});
}

bool HiveKey::RemoveValue(std::u16string_view n) {
    bool found = false;
    const std::size_t i = ValueIndex(n, found);
    if (found) values.erase(values.begin() + static_cast<std::ptrdiff_t>(i));
    return found;
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

HiveKey* Hive::Find(std::u16string_view path) const {
    HiveKey* key = root_.get();
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

#include "Hive.h"

#include <algorithm>
#include <chrono>
#include <iterator>

#include "Unicode.h"

namespace moatgate {

HiveKey* HiveKey::FindChild(std::u16string_view n) const {
    const auto it = children.find(Folded(n));
    return it == children.end() ? nullptr : it->second.get();
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
    return cursor_->second.get();
}

std::size_t HiveKey::ValueIndex(std::u16string_view folded, bool& found) const {
    const auto it = std::lower_bound(
        values.begin(), values.end(), folded,
        [](const HiveValue& v, std::u16string_view f) { return std::u16string_view(v.folded) < f; });
    found = it != values.end() && it->folded == folded;
    return static_cast<std::size_t>(it - values.begin());
}

const HiveValue* HiveKey::FindValue(std::u16string_view n) const {
    bool found = false;
    const std::size_t i = ValueIndex(Folded(n), found);
    return found ? &values[i] : nullptr;
}

HiveValue* HiveKey::FindValue(std::u16string_view n) {
    return const_cast<HiveValue*>(static_cast<const HiveKey*>(this)->FindValue(n));
}

HiveKey* HiveKey::AddChild(std::u16string childName, std::uint64_t time) {
    auto folded = Folded(childName);
    auto child = std::make_unique<HiveKey>();
    child->name = std::move(childName);
    child->parent = this;
    child->modified = time;
    HiveKey* raw = child.get();
    children.emplace(std::move(folded), std::move(child));
    cursorValid_ = false;
    return raw;
}

void HiveKey::PutValue(std::u16string valueName, DWORD type, std::vector<unsigned char> data) {
    auto folded = Folded(valueName);
    bool found = false;
    const std::size_t i = ValueIndex(folded, found);
    if (found) {
        values[i].type = type;
        values[i].data = std::move(data);
        return;
    }
    HiveValue v;
    v.name = std::move(valueName);
    v.folded = std::move(folded);
    v.type = type;
    v.data = std::move(data);
    values.insert(values.begin() + static_cast<std::ptrdiff_t>(i), std::move(v));
}

std::u16string HiveKey::Path() const {
    std::vector<const HiveKey*> chain;
    for (const HiveKey* k = this; k && k->parent; k = k->parent) chain.push_back(k);
    std::u16string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path.push_back(u'\\');
        path += (*it)->name;
    }
    return path;
}

Hive::Hive() : root_(std::make_unique<HiveKey>()), clock_(&Hive::SystemNow) {}

std::uint64_t Hive::SystemNow() {
    using namespace std::chrono;
    constexpr std::uint64_t kTicks1601To1970 = 116444736000000000ull;
    const auto since1970 =
        duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return kTicks1601To1970 + static_cast<std::uint64_t>(since1970);
}

HiveKey* Hive::Find(const std::vector<std::u16string>& foldedPath) const {
    HiveKey* key = root_.get();
    for (const auto& component : foldedPath) {
        const auto it = key->children.find(component);
        if (it == key->children.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

void Hive::Touch(HiveKey& key) {
    key.modified = Now();
    key.dirty = true;
    changed_ = true;
}

HiveKey* Hive::CreateSubkey(HiveKey& parent, std::u16string childName,
                            std::u16string_view keyClass, bool withClass) {
    HiveKey* child = parent.AddChild(std::move(childName), Now());
    child->dirty = true;
    if (withClass && !keyClass.empty()) {
        child->keyClass = keyClass;
        child->hasClass = true;
    }
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
    const auto folded = Folded(valueName);
    const auto it = std::find_if(key.values.begin(), key.values.end(),
                                 [&](const HiveValue& v) { return v.folded == folded; });
    if (it == key.values.end()) return false;
    key.values.erase(it);
    Touch(key);
    return true;
}

void Hive::DeleteKey(HiveKey& key) {
    HiveKey* parent = key.parent;
    droppedBlocks_.insert(droppedBlocks_.end(), key.blocks.begin(), key.blocks.end());
    parent->children.erase(Folded(key.name));  // destroys `key`
    parent->InvalidateCursor();
    ++generation_;
    Touch(*parent);
}

}  // namespace moatgate

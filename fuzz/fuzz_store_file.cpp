// Any input: the reader never crashes, however deep the keys nest; values read
// from the text where they stand are the keys' own; a file it accepts is written
// back byte for byte; after changes to some of its keys (or all), what is written
// reads back to the same keys and values, and is the same when handed on in
// parts. A file read only in part, written anew, reads back to what was read.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "registry/store/AnsiBoundary.h"
#include "registry/store/WineRegFormat.h"

namespace {

using namespace moatgate;

// Changes every step-th key in the walk (step 1: all of them): gives it a value,
// and every other one of those a new subkey with a value. Iterative, as every
// walk over a tree whose depth a file decides must be.
void ChangeSome(Hive& hive, std::size_t step) {
    std::size_t counter = 0;
    std::vector<HiveKey*> stack{&hive.Root()};
    while (!stack.empty()) {
        HiveKey* key = stack.back();
        stack.pop_back();
        const std::size_t before = stack.size();
        for (auto& child : key->children) stack.push_back(child.get());
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(before), stack.end());
        if (counter++ % step != 0) continue;
        if (key->parent) hive.SetValue(*key, u"fuzz", REG_DWORD, {1, 0, 0, 0});
        // New keys stay within the depth the registry allows, as the store's own changes do.
        if ((counter / step) % 2 && !key->FindChild(u"fuzz.example") && key->Depth(kMaxKeyDepth) < kMaxKeyDepth) {
            HiveKey* added = hive.CreateSubkey(*key, u"fuzz.example", u"REG_DWORD", true);
            hive.SetValue(*added, u"*", REG_DWORD, {2, 0, 0, 0});
        }
    }
}

bool SameKey(const HiveKey& a, const HiveKey& b) {
    if (a.name != b.name || a.values().size() != b.values().size() || a.children.size() != b.children.size())
        return false;
    if ((a.keyClass == nullptr) != (b.keyClass == nullptr) || (a.keyClass && *a.keyClass != *b.keyClass))
        return false;
    auto y = b.values().begin();
    for (const HiveValue& x : a.values()) {
        if (x.name != y->name || x.type != y->type || x.data != y->data) return false;
        ++y;
    }
    return true;
}

bool SameTree(const HiveKey& a, const HiveKey& b) {
    std::vector<std::pair<const HiveKey*, const HiveKey*>> stack{{&a, &b}};
    while (!stack.empty()) {
        const auto [x, y] = stack.back();
        stack.pop_back();
        if (!SameKey(*x, *y)) return false;
        auto it = y->children.begin();
        for (const auto& child : x->children) stack.emplace_back(child.get(), (it++)->get());
    }
    return true;
}

// A key's values read from the text where they stand, when the hive is sure of
// them, are its values; checked before anything reads them into the keys.
void PeeksAreExact(const Hive& hive) {
    std::vector<const HiveKey*> stack{&hive.Root()};
    std::vector<HiveValue> peeked;
    while (!stack.empty()) {
        const HiveKey* key = stack.back();
        stack.pop_back();
        for (const auto& child : key->children) stack.push_back(child.get());
        if (!key->ValuesInText() || !hive.PeekValues(*key, peeked)) continue;
        const auto& values = key->values();
        if (peeked.size() != values.size()) std::abort();
        for (std::size_t i = 0; i < peeked.size(); ++i)
            if (peeked[i].name != values[i].name || peeked[i].type != values[i].type || peeked[i].data != values[i].data)
                std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Hive hive;
    FileLayout layout;
    ParseError error;
    Hive again;
    FileLayout againLayout;
    const bool whole = LoadRegistryText(text, hive, layout, error);
    PeeksAreExact(hive);
    if (!whole) {
        if (!error.partlyRead) return 0;
        // What was read, written anew, is a file that reads back the same (and
        // is refused for writing only if it holds keys beyond the limits).
        const std::string anew = WriteHiveText(hive, NewStorePreamble());
        if (!LoadRegistryText(anew, again, againLayout, error) && !error.partlyRead) std::abort();
        if (!SameTree(hive.Root(), again.Root())) std::abort();
        return 0;
    }
    if (SaveRegistryText(hive, layout) != text) std::abort();
    const std::size_t step = size ? 1 + data[size - 1] % 16 : 1;
    const auto fixed = [] { return std::uint64_t{0x1dd860000000000}; };
    hive.SetClock(fixed);
    ChangeSome(hive, step);
    const std::string rewritten = SaveRegistryText(hive, layout);
    if (!LoadRegistryText(rewritten, again, againLayout, error)) std::abort();
    if (!SameTree(hive.Root(), again.Root())) std::abort();
    // The same changes handed on in parts make the same text.
    Hive twin;
    FileLayout twinLayout;
    if (!LoadRegistryText(text, twin, twinLayout, error)) std::abort();
    SaveRegistryText(twin, twinLayout);
    twin.SetClock(fixed);
    ChangeSome(twin, step);
    std::string handed;
    const auto take = [&handed](std::string_view part) {
        handed += part;
        return true;
    };
    // Part sizes from the input (its first bytes are always the header).
    if (!StreamRegistryText(twin, twinLayout, take, 1 + data[size / 2] % 64) || handed != rewritten) std::abort();
    return 0;
}

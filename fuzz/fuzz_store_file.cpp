// Any input: the reader never crashes; a file it accepts is written back byte for
// byte; after changes to some of its keys (or all), what is written reads back to
// the same keys and values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry/store/WineRegFormat.h"

namespace {

using namespace moatgate;

// Changes every step-th key in the walk (step 1: all of them): gives it a value,
// and every other one of those a new subkey with a value.
void ChangeSome(Hive& hive, HiveKey& key, std::size_t step, std::size_t& counter) {
    std::vector<HiveKey*> children;
    for (auto& child : key.children) children.push_back(child.get());
    if (counter++ % step == 0) {
        if (key.parent) hive.SetValue(key, u"fuzz", REG_DWORD, {1, 0, 0, 0});
        if ((counter / step) % 2 && !key.FindChild(u"fuzz.example")) {
            HiveKey* added = hive.CreateSubkey(key, u"fuzz.example", u"REG_DWORD", true);
            hive.SetValue(*added, u"*", REG_DWORD, {2, 0, 0, 0});
        }
    }
    for (HiveKey* child : children) ChangeSome(hive, *child, step, counter);
}

bool SameTree(const HiveKey& a, const HiveKey& b) {
    if (a.name != b.name || a.values.size() != b.values.size() || a.children.size() != b.children.size())
        return false;
    if ((a.keyClass == nullptr) != (b.keyClass == nullptr) || (a.keyClass && *a.keyClass != *b.keyClass))
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const HiveValue& x = a.values[i];
        const HiveValue& y = b.values[i];
        if (x.name != y.name || x.type != y.type || x.data != y.data) return false;
    }
    auto it = b.children.begin();
    for (const auto& child : a.children)
        if (!SameTree(*child, **it++)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Hive hive;
    FileLayout layout;
    ParseError error;
    if (!LoadRegistryText(text, hive, layout, error)) return 0;
    if (SaveRegistryText(hive, layout) != text) std::abort();
    const std::size_t step = size ? 1 + data[size - 1] % 16 : 1;
    std::size_t counter = 0;
    ChangeSome(hive, hive.Root(), step, counter);
    const std::string rewritten = SaveRegistryText(hive, layout);
    Hive again;
    FileLayout againLayout;
    if (!LoadRegistryText(rewritten, again, againLayout, error)) std::abort();
    if (!SameTree(hive.Root(), again.Root())) std::abort();
    return 0;
}

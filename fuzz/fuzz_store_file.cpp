// Any input: the reader never crashes; a file it accepts is written back byte for
// byte, and written anew as Wine writes it, it reads back to the same keys and values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "WineRegFormat.h"

namespace {

using namespace moatgate;

void MarkAllDirty(HiveKey& key) {
    key.dirty = true;
    for (auto& child : key.children) MarkAllDirty(*child);
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
    MarkAllDirty(hive.Root());
    const std::string rewritten = SaveRegistryText(hive, layout);
    Hive again;
    FileLayout againLayout;
    if (!LoadRegistryText(rewritten, again, againLayout, error)) std::abort();
    if (!SameTree(hive.Root(), again.Root())) std::abort();
    return 0;
}

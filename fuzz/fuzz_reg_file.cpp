// Any input: the .reg reader never crashes; what it accepts imports whole, and the
// export of the result reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry/store/HiveRegistry.h"
#include "tools/moatgate-reg/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace moatgate;
    RegFileOps ops;
    RegFileError error;
    if (!ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size), ops, error)) return 0;
    MemoryStore store;
    std::string problem;
    if (ApplyRegFile(store, ops, problem) != ERROR_SUCCESS) return 0;
    const std::string exported = EncodeRegFile(ExportRegText(store, HKEY_CURRENT_USER, "HKEY_CURRENT_USER"));
    RegFileOps again;
    if (!ParseRegFile(exported, again, error)) std::abort();
    MemoryStore copy;
    if (ApplyRegFile(copy, again, problem) != ERROR_SUCCESS) std::abort();
    return 0;
}

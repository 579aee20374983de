// Any input: the .reg reader never crashes, and reads a file from disk as it reads
// its bytes; what it accepts imports whole, and the export of the result reads back.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry/store/HiveRegistry.h"
#include "tools/moatgate-reg/RegFile.h"

namespace {

std::vector<std::string> Steps(const moatgate::RegFileOps& ops) {
    std::vector<std::string> out;
    moatgate::RegFileOps::Reader reader(ops);
    for (moatgate::RegFileOp op; reader.Next(op);)
        out.push_back(std::to_string(static_cast<int>(op.kind)) + '|' + std::string(op.key) + '|' +
                      std::string(op.name) + '|' + std::to_string(op.type) + '|' + std::string(op.data));
    return out;
}

// The same bytes read from a file, piece by piece, read the same.
void FromFileTheSame(std::string_view bytes, bool parsed, const moatgate::RegFileOps& ops,
                     const moatgate::RegFileError& error) {
    const int fd = ::memfd_create("fuzz.reg", MFD_CLOEXEC);
    if (fd < 0) return;
    bool written = true;
    for (std::size_t done = 0; done < bytes.size() && written;) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    if (written) {
        moatgate::RegFileOps fromFile;
        moatgate::RegFileError fileError;
        const bool fileParsed = moatgate::ParseRegFileAt("/proc/self/fd/" + std::to_string(fd), fromFile, fileError);
        if (fileParsed != parsed || fileError.line != error.line || fileError.message != error.message ||
            Steps(fromFile) != Steps(ops))
            std::abort();
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace moatgate;
    RegFileOps ops;
    RegFileError error;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const bool parsed = ParseRegFile(bytes, ops, error);
    FromFileTheSame(bytes, parsed, ops, error);
    if (!parsed) return 0;
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

// The floor a load is measured against: reading a file whole into memory as any
// careful reader does (one buffer of the file's size, in large pages where the
// system has them, as the store's own load) and finding each line's end.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "registry/store/LargePages.h"

namespace moatgate {

// The number of lines of the file at `path`; 0 when it cannot be read.
inline std::size_t ReadAndScanLines(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return 0;
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(st.st_size));
    AdviseLargePages(text.data(), text.capacity());
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    std::size_t lines = 0;
    const char* p = text.data();
    const char* const end = p + got;
    while (p < end) {
        ++lines;
        const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!newline) break;
        p = static_cast<const char*>(newline) + 1;
    }
    return lines;
}

}  // namespace moatgate

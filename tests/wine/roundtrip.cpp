// Reads a registry file Wine wrote and checks that the file store gives back its
// bytes: unchanged, and with every key written anew as the store writes changes.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "registry/store/WineRegFormat.h"

namespace {

bool Load(const std::string& text, moatgate::Hive& hive, moatgate::FileLayout& layout, const char* file) {
    moatgate::ParseError error;
    if (moatgate::LoadRegistryText(text, hive, layout, error)) return true;
    std::fprintf(stderr, "%s:%zu: %s\n", file, error.line, error.message.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: registry_roundtrip USER.REG\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();

    moatgate::Hive hive;
    moatgate::FileLayout layout;
    if (!Load(text, hive, layout, argv[1])) return 1;
    if (moatgate::SaveRegistryText(hive, layout) != text) {
        std::fprintf(stderr, "%s: not written back byte for byte\n", argv[1]);
        return 1;
    }
    const std::string rewritten =
        moatgate::WriteHiveText(hive, std::string_view(text).substr(0, layout.preambleEnd));
    if (rewritten != text) {
        std::size_t at = 0;
        while (at < text.size() && at < rewritten.size() && text[at] == rewritten[at]) ++at;
        std::fprintf(stderr, "%s: written anew, it differs from Wine's text at byte %zu:\n--- Wine\n%s\n--- store\n%s\n",
                     argv[1], at, text.substr(at, 200).c_str(), rewritten.substr(at, 200).c_str());
        return 1;
    }
    std::printf("%s: %zu bytes round-trip\n", argv[1], text.size());
    return 0;
}

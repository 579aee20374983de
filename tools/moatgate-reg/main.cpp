// moatgate-reg: the registry command-line tool over the store Moatgate uses.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "registry/NewStore.h"
#include "registry/store/LargePages.h"
#include "tools/moatgate-reg/RegTool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // An import or an export holds a whole file's text besides the store's: its
    // heap stays in small pages, which take less memory than large ones.
    if (!moatgate::RegToolMovesAFile(args)) moatgate::UseLargePagesForHeap();
    if (args.empty() || args[0] == "/?" || args[0] == "-?" || args[0] == "--help" || args[0] == "/h" ||
        args[0] == "-h") {
        (args.empty() ? std::cerr : std::cout) << moatgate::RegToolUsage();
        return args.empty() ? 1 : 0;
    }
    std::string error;
    auto store = moatgate::OpenSettingsStore([](const char* name) { return std::getenv(name); }, error);
    if (!store) {
        std::cerr << "moatgate-reg: " << error << "\n";
        return 1;
    }
    return moatgate::RunRegTool(args, *store, std::cin, std::cout, std::cerr);
}

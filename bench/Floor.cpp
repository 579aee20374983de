// moatgate_floor FILE: the floor of a store's load as a whole process; prints the
// number of lines.
#include <cstdio>

#include "bench/Floor.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::printf("%zu\n", moatgate::ReadAndScanLines(argv[1]));
    return 0;
}

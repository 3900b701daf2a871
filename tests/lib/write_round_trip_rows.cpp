// Writes the input of each round-trip row into a folder, one file per row
// named after it, for the tests of other builds of the library (the npm
// package's) to convert and compare with the programs' output. Rows marked
// large are left out: they are for the library's own tests.
//
//   write_round_trip_rows FOLDER
#include <cstdio>
#include <fstream>
#include <string>

#include "round_trip_rows.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_round_trip_rows FOLDER\n");
        return 2;
    }
    for (const RoundTrip& row : round_trip_rows()) {
        if (row.large) {
            continue;
        }
        const std::string path = std::string(argv[1]) + "/" + row.name;
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(row.input.data()), static_cast<std::streamsize>(row.input.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "write_round_trip_rows: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}

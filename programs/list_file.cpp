#include "programs/list_file.hpp"

#include <cstdint>
#include <cstdio>

#include "mornak.h"
#include "programs/bk_file.hpp"
#include "programs/exit_status.hpp"
#include "programs/mapped_file.hpp"

namespace programs {

namespace {

struct Listed {
    std::uint64_t bk_size = 0;
    std::uint64_t content = 0;
    std::uint64_t dictionaries = 0;
};

void print_line(const Listed& l, const char* name) {
    char ratio[16] = "-";
    if (l.content != 0) {
        std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(l.bk_size) / static_cast<double>(l.content));
    }
    std::printf("%14llu %14llu %7s %12llu  %s\n", static_cast<unsigned long long>(l.bk_size),
                static_cast<unsigned long long>(l.content), ratio, static_cast<unsigned long long>(l.dictionaries),
                name);
}

// The file's line, or false once its failure is reported.
bool list_one(const char* path, Listed& listed) {
    BkFile bk{path};
    if (const char* problem = open_bk(bk)) {
        std::fprintf(stderr, "unmornak: %s: %s\n", path, problem);
        return false;
    }
    const MappedFile mapped(::fileno(bk.input.stream.get()), static_cast<std::uint64_t>(bk.input.size));
    const std::span<const std::uint8_t> bytes = mapped.bytes();
    if (bk.input.size != 0 && bytes.empty()) {
        std::fprintf(stderr, "unmornak: %s: it could not be mapped into memory\n", path);
        return false;
    }
    std::vector<mornak_point> points(mornak_index_bound(bytes.size()));
    std::size_t count = 0;
    mornak_fault fault;
    const mornak_status status =
        mornak_index_with_fault(bytes.data(), bytes.size(), points.data(), points.size(), &count, &fault);
    if (status != MORNAK_OK) {
        char words[MORNAK_FAULT_TEXT_BYTES];
        mornak_fault_text(&fault, bytes.size(), bk.length, words, sizeof words);
        std::fprintf(stderr, "unmornak: %s: %s\n", path, words);
        return false;
    }
    listed = {bytes.size(), bk.length, count};
    return true;
}

}  // namespace

int list_files(const std::vector<const char*>& paths) {
    std::printf("%14s %14s %7s %12s  %s\n", ".bk bytes", "content bytes", "ratio", "dictionaries", "name");
    Listed total;
    int status = EXIT_DONE;
    for (const char* path : paths) {
        Listed listed;
        if (!list_one(path, listed)) {
            status = EXIT_FAILED;
            continue;
        }
        print_line(listed, path);
        total.bk_size += listed.bk_size;
        total.content += listed.content;
        total.dictionaries += listed.dictionaries;
    }
    if (paths.size() > 1) {
        print_line(total, "(totals)");
    }
    return status;
}

}  // namespace programs

// The damaged .bk files of tests/data/damaged.txt, with what the decoder,
// the verifier and unmornak make of each.
#pragma once

#include <string>
#include <vector>

#include "mornak.h"
#include "support.hpp"

struct DamagedFile {
    std::string name;
    Bytes file;
    mornak_fault restoring;         // the decoder's verdict
    mornak_status checking;         // the verifier's
    std::uint64_t checking_at;
    std::string words;              // unmornak's, "" when neither fails
};

// Read from the table once per process.
const std::vector<DamagedFile>& damaged_files();

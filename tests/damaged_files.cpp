#include "damaged_files.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<std::string> split(const std::string& text, const std::string& by) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(by, from)) != std::string::npos; from = at + by.size()) {
        parts.push_back(trim(text.substr(from, at - from)));
    }
    parts.push_back(trim(text.substr(from)));
    return parts;
}

mornak_status status_named(const std::string& name) {
    for (int s = MORNAK_ERROR_NOT_CANONICAL; s <= MORNAK_MORE; ++s) {
        if (name == mornak_status_name(static_cast<mornak_status>(s))) {
            return static_cast<mornak_status>(s);
        }
    }
    throw std::runtime_error("no status " + name);
}

Bytes hex_bytes(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The file a row's steps make.
Bytes make_file(const std::string& steps) {
    Bytes file;
    for (const std::string& step : split(steps, ";")) {
        std::istringstream words(step);
        std::string verb;
        if (!(words >> verb)) {
            continue;
        }
        if (verb == "book") {
            std::uint32_t length = 0;
            words >> length;
            file = file + pack({{0x626F6F6B, 32}, {__builtin_bswap32(length), 32}});
        } else if (verb == "raw") {
            std::string hex;
            words >> hex;
            file = file + hex_bytes(hex);
        } else if (verb == "cut") {
            std::size_t size = 0;
            words >> size;
            file.resize(size);
        } else if (verb == "set") {
            std::size_t at = 0;
            std::string hex;
            words >> at >> hex;
            file.at(at) = hex_bytes(hex).at(0);
        } else if (verb.ends_with(":")) {
            const int width = std::stoi(verb);
            std::vector<std::pair<std::uint32_t, int>> codes;
            for (std::uint32_t code = 0; words >> code;) {
                codes.emplace_back(code, width);
            }
            file = file + pack(codes);
        } else {
            throw std::runtime_error("no step " + verb);
        }
    }
    return file;
}

DamagedFile parse_row(const std::string& line) {
    const std::vector<std::string> fields = split(line, "|");
    if (fields.size() != 5) {
        throw std::runtime_error("a row of damaged.txt needs 5 fields: " + line);
    }
    DamagedFile row{fields[0], make_file(fields[1]), {}, MORNAK_OK, 0, fields[4]};
    std::istringstream restoring(fields[2]);
    std::string status;
    restoring >> status >> row.restoring.at_byte >> row.restoring.code >> row.restoring.restored;
    row.restoring.status = status_named(status);
    if (fields[3] == "same") {
        row.checking = row.restoring.status;
        row.checking_at = row.restoring.at_byte;
    } else {
        std::istringstream checking(fields[3]);
        checking >> status >> row.checking_at;
        row.checking = status_named(status);
    }
    return row;
}

}  // namespace

const std::vector<DamagedFile>& damaged_files() {
    static const std::vector<DamagedFile> rows = [] {
        std::ifstream table(DAMAGED_FILES);
        if (!table) {
            throw std::runtime_error("cannot read " DAMAGED_FILES);
        }
        std::vector<DamagedFile> made;
        for (std::string line; std::getline(table, line);) {
            if (!trim(line).empty() && !line.starts_with("#")) {
                made.push_back(parse_row(line));
            }
        }
        return made;
    }();
    return rows;
}

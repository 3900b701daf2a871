#include "programs/bk_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace programs {

const char* open_bk(BkFile& bk) {
    bk.input = open_input(bk.path);
    switch (bk.input.kind) {
        case InputFile::Kind::regular:
            break;
        case InputFile::Kind::folder:
            return std::strerror(EISDIR);
        case InputFile::Kind::other:
            return "not a regular file";
        case InputFile::Kind::failed:
            return std::strerror(bk.input.error);
    }
    std::FILE* stream = bk.input.stream.get();
    bk.header_got = std::fread(bk.header, 1, sizeof bk.header, stream);
    if (bk.header_got < sizeof bk.header && std::ferror(stream)) {
        return std::strerror(errno);
    }
    // A header that gives no length is the decoder's or verifier's to refuse.
    if (mornak_content_size(bk.header, bk.header_got, &bk.length) != MORNAK_OK) {
        bk.length = 0;
    }
    bk.left = static_cast<std::uint64_t>(bk.input.size) - bk.header_got;
    return nullptr;
}

int read_block(BkFile& bk, std::span<std::uint8_t> into, std::size_t& got) {
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), bk.left));
    got = std::fread(into.data(), 1, wanted, bk.input.stream.get());
    bk.left -= got;
    if (got < wanted) {
        bk.left = 0;  // the file ended early: the stream ends here
        if (std::ferror(bk.input.stream.get())) {
            return errno;
        }
    }
    return 0;
}

bool read_as_measured(const BkFile& bk) {
    return std::fgetc(bk.input.stream.get()) == EOF && bk.input.ended_at_size();
}

}  // namespace programs

#include "programs/output_name.hpp"

namespace programs {

namespace {

constexpr std::string_view BK = ".bk";

// Where the last path component starts.
std::size_t name_start(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

}  // namespace

std::string derive_output_name(std::string_view input_path) {
    const std::size_t dot = input_path.rfind('.');
    const bool has_extension = dot != std::string_view::npos && dot > name_start(input_path);
    std::string name(has_extension ? input_path.substr(0, dot) : input_path);
    name += BK;
    return name;
}

std::optional<std::string> restored_name(std::string_view bk_path) {
    const std::string_view name = bk_path.substr(name_start(bk_path));
    if (!name.ends_with(BK) || name.size() == BK.size()) {
        return std::nullopt;
    }
    return std::string(bk_path.substr(0, bk_path.size() - BK.size()));
}

}  // namespace programs

#include "programs/output_name.hpp"

namespace programs {

std::string derive_output_name(std::string_view input_path) {
    const std::size_t slash = input_path.rfind('/');
    const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = input_path.rfind('.');
    const bool has_extension = dot != std::string_view::npos && dot > name_start;
    std::string name(has_extension ? input_path.substr(0, dot) : input_path);
    name += ".bk";
    return name;
}

}  // namespace programs

#pragma once

#include <string>
#include <string_view>

namespace programs {

// The .bk path beside `input_path`: the extension of the last path component
// is replaced by ".bk", or ".bk" is appended when that component has no
// extension (no '.', or only a leading one as in ".profile"). Dots in folder
// names are never touched: "old.dir/readme" gives "old.dir/readme.bk".
std::string derive_output_name(std::string_view input_path);

}  // namespace programs

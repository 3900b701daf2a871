// The names of what the programs make, in one place: the web page takes them
// from here too, so that it names its results as the programs do.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace programs {

// The .bk path beside `input_path`: the extension of the last path component
// is replaced by ".bk", or ".bk" is appended when that component has no
// extension (no '.', or only a leading one as in ".profile"). Dots in folder
// names are never touched: "old.dir/readme" gives "old.dir/readme.bk".
std::string derive_output_name(std::string_view input_path);

// The path FILE.bk restores to by default: FILE. None when the last path
// component does not end in ".bk", or is just ".bk" (which would leave no
// name at all).
std::optional<std::string> restored_name(std::string_view bk_path);

}  // namespace programs

// Writing the .bk file without ever leaving a partial one in its place.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace converter {

inline constexpr std::size_t HEADER_BYTES = 8;

// "book", then the input length as signed 32-bit little-endian.
std::array<std::uint8_t, HEADER_BYTES> make_header(std::int32_t input_size);

// Writes `header` then `body` to `target`. The bytes go to a temporary file in
// the target's folder, which is renamed over `target` only once it is
// complete and closed, so `target` is either replaced whole or left as it
// was. The new file gets the mode a plain creation gives (0666 less the
// umask); a symbolic link at `target` is replaced, not written through.
// Returns 0, or the errno of the step that failed, after removing the
// temporary file.
int write_output_file(const std::string& target, std::span<const std::uint8_t> header,
                      std::span<const std::uint8_t> body);

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file, if one exists at
// that moment, before they end the process as they would have anyway (so the
// parent sees the signal, and a shell reports 128 + its number).
void remove_temporary_on_signals();

}  // namespace converter

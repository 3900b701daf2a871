// Runs the real mornak or unmornak binary in a scratch folder, as a user
// would: arguments in, console text, exit status and the files left out.
#pragma once

#include <sys/resource.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "mornak.h"
#include "support.hpp"

enum class Kind { file, folder, fifo, sparse, link, hard_link, device, socket };

struct Entry {
    std::string path;
    std::string content;  // a file's bytes, or where a link points (a hard link: in the folder)
    Kind kind = Kind::file;
    off_t size = 0;       // a sparse file's length
    mode_t mode = 0644;   // a file's permission bits; a folder's when not this default
    dev_t device = 0;     // a character device's numbers, as makedev gives them
};

// Thrown by Folder::make where device nodes cannot be made (no CAP_MKNOD).
struct CannotMakeNode : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    bool stdout_full = false;    // standard output is /dev/full
    bool stdout_closed = false;  // standard output is a pipe nobody reads
    mode_t umask = 022;
    rlim_t file_limit = 0;     // RLIMIT_FSIZE in bytes when not 0
    rlim_t memory_limit = 0;   // RLIMIT_AS in bytes when not 0
    int ignored_signal = 0;    // ignored from the start when not 0, as under nohup
    bool as_any_user = false;  // permission bits bind the program even when the tests run as root
    std::string stdout_file = {};  // standard output appends to this file in the folder, made if missing
    std::string fifo_reader = {};  // a FIFO in the folder with a reader from before the run starts
    std::vector<std::string> environment = {};  // NAME=value added to mornak's environment
};

struct Outcome {
    int status;  // exit code, or 128 + signal
    std::string out;
    std::string err;
    std::string fifo = {};  // what the reader of Options::fifo_reader got
};

// A fresh folder under the system's temporary folder, removed with its contents.
struct Folder {
    std::filesystem::path path;
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    void make(const Entry& e) const;
    // Every entry below the folder, sorted; folders end in '/'.
    std::vector<std::string> listing() const;
    Bytes read(const std::string& name) const;
};

Outcome run_program(const char* binary, const std::filesystem::path& folder, const std::vector<std::string>& args,
                    const Options& options = {});

// The version mornak.h gives, written as the programs print it: "1.4.0".
inline std::string header_version() {
    return std::to_string(MORNAK_VERSION_MAJOR) + "." + std::to_string(MORNAK_VERSION_MINOR) + "." +
           std::to_string(MORNAK_VERSION_PATCH);
}

inline Outcome run_mornak(const std::filesystem::path& folder, const std::vector<std::string>& args,
                          const Options& options = {}) {
    return run_program(MORNAK_BINARY, folder, args, options);
}

inline Outcome run_unmornak(const std::filesystem::path& folder, const std::vector<std::string>& args,
                            const Options& options = {}) {
    return run_program(UNMORNAK_BINARY, folder, args, options);
}

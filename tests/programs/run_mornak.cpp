#include "run_mornak.hpp"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string read_all(int fd) {
    std::string text;
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

}  // namespace

Folder::Folder() {
    std::string name = (fs::temp_directory_path() / "mornak-test-XXXXXX").string();
    path = ::mkdtemp(name.data());
}

Folder::~Folder() {
    // Folders a test made read-only are opened up first, so that everything
    // can go whoever runs the tests.
    std::error_code error;
    for (fs::recursive_directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        if (it->is_directory() && !it->is_symlink()) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
    fs::remove_all(path);
}

void Folder::make(const Entry& e) const {
    const fs::path at = path / e.path;
    fs::create_directories(at.parent_path());
    if (e.kind == Kind::folder) {
        fs::create_directory(at);  // or it is there already, made for an entry inside it
        if (e.mode != Entry{}.mode) {
            ::chmod(at.c_str(), e.mode);
        }
    } else if (e.kind == Kind::fifo) {
        if (::mkfifo(at.c_str(), 0644) != 0) {
            throw std::runtime_error("mkfifo failed");
        }
    } else if (e.kind == Kind::link) {
        fs::create_symlink(e.content, at);
    } else if (e.kind == Kind::hard_link) {
        fs::create_hard_link(path / e.content, at);
    } else if (e.kind == Kind::device || e.kind == Kind::socket) {
        const mode_t type = e.kind == Kind::device ? S_IFCHR : S_IFSOCK;
        if (::mknod(at.c_str(), type | 0666, e.device) != 0) {
            throw CannotMakeNode(std::string("mknod ") + e.path + ": " + std::strerror(errno));
        }
    } else {
        std::ofstream(at, std::ios::binary) << e.content;
        if (e.kind == Kind::sparse) {
            fs::resize_file(at, static_cast<std::uintmax_t>(e.size));
        }
        ::chmod(at.c_str(), e.mode);
    }
}

std::vector<std::string> Folder::listing() const {
    std::vector<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(path)) {
        names.push_back(item.path().lexically_relative(path).string() + (item.is_directory() ? "/" : ""));
    }
    std::ranges::sort(names);
    return names;
}

Bytes Folder::read(const std::string& name) const {
    std::ifstream in(path / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Outcome run_program(const char* binary, const fs::path& folder, const std::vector<std::string>& args,
                    const Options& options) {
    int out_pipe[2];
    int err_pipe[2];
    int closed_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0 || ::pipe(closed_pipe) != 0) {
        return {-1, "pipe failed", {}};
    }
    ::close(closed_pipe[0]);
    // Built before fork: the child only calls what is safe there.
    std::vector<char*> argv{const_cast<char*>(binary)};
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        envp.push_back(*e);
    }
    for (const auto& e : options.environment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    const fs::path stdout_file = options.stdout_file.empty() ? fs::path() : folder / options.stdout_file;
    // The FIFO's reader, there before the program starts; opened without
    // blocking, and read once the program is done, so a program that never
    // writes there cannot hang the test. What it reads must fit the FIFO's
    // 64 KiB buffer.
    const int fifo = options.fifo_reader.empty()
                         ? -1
                         : ::open((folder / options.fifo_reader).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        const int out = options.stdout_full          ? ::open("/dev/full", O_WRONLY)
                        : options.stdout_closed      ? closed_pipe[1]
                        : !stdout_file.empty()       ? ::open(stdout_file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644)
                                                     : out_pipe[1];
        ::dup2(out, STDOUT_FILENO);
        ::signal(SIGPIPE, SIG_DFL);  // as a shell starts it
        const rlimit no_core{0, 0};  // signals that dump core leave no file behind
        ::setrlimit(RLIMIT_CORE, &no_core);
        ::dup2(err_pipe[1], STDERR_FILENO);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::umask(options.umask);
        ::alarm(60);  // a hang fails the case instead of the whole run
        if (options.file_limit != 0) {
            const rlimit limit{options.file_limit, options.file_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);
        }
        if (options.memory_limit != 0) {
            const rlimit limit{options.memory_limit, options.memory_limit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (options.ignored_signal != 0) {
            ::signal(options.ignored_signal, SIG_IGN);
        }
        // Out of the bounding set, root's power over permission bits is not
        // given back by execve.
        if (options.as_any_user && ::geteuid() == 0 &&
            (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
             ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0)) {
            ::_exit(125);
        }
        ::execve(binary, argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    ::close(closed_pipe[1]);
    // Both programs write little to standard error, so reading it second cannot block the child.
    Outcome outcome{-1, read_all(out_pipe[0]), read_all(err_pipe[0])};
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (fifo >= 0) {
        outcome.fifo = read_all(fifo);
    }
    return outcome;
}

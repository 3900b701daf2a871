#include "programs/threads.hpp"

#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <system_error>
#include <optional>
#include <thread>
#include <vector>

#include "programs/mapped_file.hpp"

namespace programs {

namespace {

struct FreeDecoder {
    void operator()(mornak_decoder* decoder) const { mornak_decoder_free(decoder); }
};
struct FreeVerifier {
    void operator()(mornak_verifier* verifier) const { mornak_verifier_free(verifier); }
};
struct FreeBuffer {
    void operator()(std::uint8_t* buffer) const { std::free(buffer); }
};

// The file's restart points, as far as a scan finds them: none when it
// could not be scanned.
std::vector<mornak_point> scan(std::span<const std::uint8_t> bk) {
    std::vector<mornak_point> points(mornak_index_bound(bk.size()));
    std::size_t count = 0;
    if (mornak_scan_points(bk.data(), bk.size(), points.data(), points.size(), &count) != MORNAK_OK) {
        count = 0;
    }
    points.resize(count);
    return points;
}

// The threads of one run, joined however the run ends.
class Crew {
public:
    Crew() = default;
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
    ~Crew() { join(); }
    // Starts up to `count` threads: fewer where the system gives no more.
    template <typename Work>
    void start(unsigned count, Work work) {
        for (unsigned i = 0; i < count; ++i) {
            try {
                threads_.emplace_back(work, i);
            } catch (const std::system_error&) {
                return;
            }
        }
    }
    void join() {
        for (std::thread& t : threads_) {
            t.join();
        }
        threads_.clear();
    }

private:
    std::vector<std::thread> threads_;
};

// The most bytes one code restores (a chain through every entry), rounded up.
constexpr std::uint64_t LONGEST_STRING = 1u << 16;

// A part's buffer: one huge page where the system allows, since touching
// fresh memory a small page at a time costs more than restoring into it.
std::unique_ptr<std::uint8_t, FreeBuffer> part_buffer() {
    void* buffer = std::aligned_alloc(PART_BYTES, PART_BYTES);
    if (buffer != nullptr) {
        ::madvise(buffer, PART_BYTES, MADV_HUGEPAGE);
    }
    return std::unique_ptr<std::uint8_t, FreeBuffer>(static_cast<std::uint8_t*>(buffer));
}

// What one restoring thread hands the writer: a part of a segment, in one
// of its two buffers, so that it restores into the other meanwhile.
struct Part {
    std::unique_ptr<std::uint8_t, FreeBuffer> buffer;
    bool handed = false;     // the writer has it; the fields below are the writer's to read
    std::size_t segment = 0;
    std::size_t number = 0;  // parts of a segment are numbered from 0
    std::size_t fill = 0;    // bytes in `buffer`
    bool last = false;       // with it the segment ended, with `status`, at `end`
    mornak_status status = MORNAK_OK;
    mornak_point end{};
};

struct Slot {
    Part parts[2];
};

// What the threads and the writer share: everything after `ready` is set
// once the first thread has mapped and scanned the file.
struct Shared {
    Shared(int file, std::uint64_t bytes) : fd(file), size(bytes) {}
    int fd;
    std::uint64_t size;
    std::mutex lock;
    std::condition_variable changed;
    bool ready = false;
    std::optional<MappedFile> mapped;
    std::vector<mornak_point> points;
    bool opened = false;          // the caller said where the threads begin
    std::size_t next_segment = 0;
    bool stop = false;
    std::vector<Slot> slots;
    std::thread finder;  // find_segments
    Crew crew;           // the other restoring threads, which it starts

    void halt() {
        {
            const std::lock_guard held(lock);
            stop = true;
        }
        changed.notify_all();
        if (finder.joinable()) {
            finder.join();
        }
        crew.join();
    }
};

// Restores segment after segment, part by part, into the thread's two
// buffers in turn, and hands each part to the writer.
void restore_segments(Shared& r, unsigned self) {
    const std::unique_ptr<mornak_decoder, FreeDecoder> decoder(mornak_decoder_create());
    Slot& slot = r.slots[self];
    for (Part& part : slot.parts) {
        part.buffer = part_buffer();
    }
    std::unique_lock held(r.lock);
    r.changed.wait(held, [&] { return r.opened || r.stop; });
    const bool equipped = decoder != nullptr && slot.parts[0].buffer && slot.parts[1].buffer;
    const std::span<const std::uint8_t> bk = r.mapped->bytes();
    int b = 0;
    while (!r.stop && r.next_segment < r.points.size()) {
        const std::size_t k = r.next_segment++;
        held.unlock();
        const mornak_point& from = r.points[k];
        const auto first = static_cast<std::size_t>(from.bk_bit / 8);
        mornak_in in{bk.data() + first, bk.size() - first, 0};
        // Without its memory the thread hands the segment over as failed,
        // and one thread restores from there.
        const mornak_status begun =
            equipped ? mornak_decoder_begin_at(decoder.get(), bk.data(), &from, 1) : MORNAK_ERROR_MEMORY;
        mornak_status status = begun == MORNAK_OK ? MORNAK_MORE : begun;
        for (std::size_t number = 0;; ++number) {
            Part& part = slot.parts[b];
            b ^= 1;
            held.lock();
            r.changed.wait(held, [&] { return !part.handed || r.stop; });
            if (r.stop) {
                return;
            }
            held.unlock();
            mornak_out out{part.buffer.get(), PART_BYTES, 0};
            if (status == MORNAK_MORE) {
                status = mornak_decoder_run(decoder.get(), &in, &out, 1);
            }
            held.lock();
            part.segment = k;
            part.number = number;
            part.fill = out.pos;
            part.last = status != MORNAK_MORE;
            part.status = status;
            if (equipped) {
                mornak_decoder_position(decoder.get(), &part.end);
            }
            part.handed = true;
            held.unlock();
            r.changed.notify_all();
            if (status != MORNAK_MORE) {
                break;
            }
        }
        held.lock();
    }
}

// The first thread: maps and scans the file, and where it has several
// segments, starts the others and restores with them. A file of one
// dictionary costs only this, beside the caller's restore.
void find_segments(Shared& r, unsigned threads) {
    r.mapped.emplace(r.fd, r.size);  // the others read it only once `ready` says it is made
    std::vector<mornak_point> points = scan(r.mapped->bytes());
    {
        const std::lock_guard held(r.lock);
        r.points = std::move(points);
        r.ready = true;
        if (r.stop || r.points.size() < 2) {
            r.changed.notify_all();
            return;
        }
        // No more threads than segments.
        const auto more = static_cast<unsigned>(std::min<std::size_t>(threads, r.points.size()) - 1);
        r.crew.start(more, [&r](unsigned i) { restore_segments(r, i + 1); });
    }
    r.changed.notify_all();
    restore_segments(r, 0);
}

// The writer's wait for part `number` of segment `k`.
Part& next_part(Shared& r, std::unique_lock<std::mutex>& held, std::size_t k, std::size_t number) {
    Part* found = nullptr;
    r.changed.wait(held, [&] {
        for (Slot& slot : r.slots) {
            for (Part& p : slot.parts) {
                if (p.handed && p.segment == k && p.number == number) {
                    found = &p;
                    return true;
                }
            }
        }
        return false;
    });
    return *found;
}

// Restores from `from` (a point confirmed, its content offset known) to
// the end, or with `one_segment` to the next point, on the calling thread,
// reading the file as it is, and writes all but the first `skip` bytes.
RestOutcome restore_from(int fd, std::uint64_t size, const std::uint8_t (&header)[MORNAK_HEADER_BYTES],
                         const mornak_point& from, std::uint64_t skip, mornak_decoder* decoder, OutputFile& output,
                         bool one_segment = false) {
    mornak_decoder_begin_at(decoder, header, &from, one_segment ? 1 : 0);
    std::uint64_t offset = from.bk_bit / 8;
    mornak_in in{nullptr, 0, 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        if (in.pos == in.size && offset < size) {
            unsigned char* room = nullptr;
            std::size_t room_size = 0;
            mornak_decoder_input_room(decoder, &room, &room_size);
            const ssize_t got =
                ::pread(fd, room, std::min<std::uint64_t>(room_size, size - offset), static_cast<off_t>(offset));
            if (got < 0) {
                return {MORNAK_MORE, errno, 0};
            }
            in = {room, static_cast<std::size_t>(got), 0};
            offset = got == 0 ? size : offset + static_cast<std::uint64_t>(got);
        }
        const unsigned char* run = nullptr;
        std::size_t bytes = 0;
        status = mornak_decoder_run_direct(decoder, &in, offset == size ? 1 : 0, &run, &bytes);
        const auto skipped = static_cast<std::size_t>(std::min<std::uint64_t>(skip, bytes));
        skip -= skipped;
        if (const int error = output.append({run + skipped, bytes - skipped})) {
            return {MORNAK_MORE, 0, error};
        }
    }
    return {status, 0, 0};
}

// How writing the segments ended: with the stream (`status` the verdict),
// with a failed write (`error`), or where one thread must go on alone: at
// `from`, the start of the first segment not confirmed, skipping `skip`
// bytes of it that went out already.
struct Written {
    enum How { ended, write_failed, go_on } how;
    mornak_status status = MORNAK_OK;
    int error = 0;
    mornak_point from{};
    std::uint64_t skip = 0;
};

// Restoring threads beside the caller, started once the caller restored
// the first segment: the first maps and scans the file and starts the
// others where it finds more segments. Meanwhile the caller restores on,
// segment by segment; then it lets them begin where it stands and writes
// what they restore, in order.
class SegmentCrew {
public:
    SegmentCrew(int fd, std::uint64_t size, unsigned threads);
    ~SegmentCrew() { shared_->halt(); }
    SegmentCrew(const SegmentCrew&) = delete;
    SegmentCrew& operator=(const SegmentCrew&) = delete;

    // Once the threads have found the points: lets them restore from the
    // one at `at`, where the caller's decoder stands, and returns its
    // number; 0 while they have not, or when `at` is none of them (then the
    // threads are stopped).
    std::size_t open_at(const mornak_point& at);
    // True once open_at found no place for the threads.
    bool closed() const;

    // Writes segment k (which starts at `at`) and those after it as the
    // threads restore them, and stops the threads.
    Written write_segments(std::size_t k, const mornak_point& at, std::uint64_t expected, OutputFile& output);

private:
    std::unique_ptr<Shared> shared_;
};

SegmentCrew::SegmentCrew(int fd, std::uint64_t size, unsigned threads) : shared_(std::make_unique<Shared>(fd, size)) {
    shared_->slots = std::vector<Slot>(threads);
    try {
        shared_->finder = std::thread(find_segments, std::ref(*shared_), threads);
    } catch (const std::system_error&) {
        // No thread: the caller restores segment after segment alone.
    }
}


std::size_t SegmentCrew::open_at(const mornak_point& at) {
    Shared& r = *shared_;
    std::size_t k = 0;
    {
        const std::lock_guard held(r.lock);
        if (!r.ready) {
            return 0;
        }
        const auto found = std::ranges::find_if(r.points, [&](const mornak_point& p) { return p.bk_bit == at.bk_bit; });
        if (found != r.points.end() && r.mapped->bytes().size() == r.size) {
            k = static_cast<std::size_t>(found - r.points.begin());
        }
        r.next_segment = k;
        r.opened = k != 0;
    }
    if (k == 0) {
        r.halt();
    } else {
        r.changed.notify_all();
    }
    return k;
}

bool SegmentCrew::closed() const {
    const std::lock_guard held(shared_->lock);
    return shared_->stop;
}

Written SegmentCrew::write_segments(std::size_t k, const mornak_point& at, std::uint64_t expected,
                                    OutputFile& output) {
    Shared& r = *shared_;
    const std::span<const std::uint8_t> bk = r.mapped->bytes();
    const std::vector<mornak_point>& points = r.points;
    const std::uint64_t file_end = 8 * std::uint64_t{bk.size()};
    // Where segment k starts, confirmed by the segment before it, and the
    // content bytes written: all before segment k, and what of it went out.
    std::uint64_t segment_start = at.bk_bit;
    std::uint64_t written = at.content_offset;
    std::uint64_t segment_written = 0;
    std::size_t number = 0;
    std::unique_lock held(r.lock, std::defer_lock);
    const auto go_on = [&] {
        r.halt();
        return Written{Written::go_on, MORNAK_OK, 0, {segment_start, written - segment_written}, segment_written};
    };
    while (k < points.size()) {
        held.lock();
        Part& part = next_part(r, held, k, number);
        const std::size_t fill = part.fill;
        const bool last = part.last;
        const mornak_status status = part.status;
        const mornak_point end = part.end;
        held.unlock();
        // The threads restore without the header's length: a string that
        // runs past it is a fault one thread places, before which it writes
        // nothing of that string. A part is written once no such string can
        // lie in it: it ends a string's length short of the header's
        // length, or ends its segment within it.
        bool confirmed = written + fill + LONGEST_STRING <= expected || (last && written + fill <= expected);
        if (confirmed && fill != 0) {
            if (const int error = output.append({part.buffer.get(), fill})) {
                r.halt();
                return {Written::write_failed, MORNAK_OK, error};
            }
            written += fill;
            segment_written += fill;
        }
        if (confirmed && last) {
            const bool last_segment = k + 1 == points.size();
            confirmed = status == MORNAK_OK && end.bk_bit == (last_segment ? file_end : points[k + 1].bk_bit) &&
                        (!last_segment || written == expected);
        }
        if (!confirmed) {
            return go_on();
        }
        held.lock();
        part.handed = false;
        held.unlock();
        r.changed.notify_all();
        ++number;
        if (last) {
            ++k;
            segment_start = k < points.size() ? points[k].bk_bit : 0;
            number = 0;
            segment_written = 0;
        }
    }
    r.halt();
    return {Written::ended, MORNAK_OK};
}

}  // namespace

Threads threads_for(unsigned asked) {
    if (asked != 0) {
        return {asked, true};
    }
    cpu_set_t cores;
    if (::sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return {static_cast<unsigned>(std::max(1, CPU_COUNT(&cores))), false};
    }
    return {std::max(1u, std::thread::hardware_concurrency()), false};
}

bool worth_threads(const Threads& threads, std::uint64_t bk_size, std::uint64_t content) {
    return threads.count > 1 && bk_size <= SIZE_MAX && mornak_index_bound(bk_size) > 1 &&
           (threads.asked || content >= SPREAD_MIN_CONTENT);
}

RestOutcome restore_rest(int fd, std::uint64_t size, const std::uint8_t (&header)[MORNAK_HEADER_BYTES],
                         const Threads& threads, mornak_decoder* decoder, OutputFile& output) {
    mornak_point at{};
    mornak_decoder_position(decoder, &at);
    std::uint64_t expected = 0;
    mornak_content_size(header, MORNAK_HEADER_BYTES, &expected);
    if (!worth_threads(threads, size, expected - at.content_offset)) {
        return restore_from(fd, size, header, at, 0, decoder, output);
    }
    // While the threads find the points, this one goes on segment by segment.
    SegmentCrew crew(fd, size, threads.count);
    std::size_t k = 0;
    while ((k = crew.open_at(at)) == 0 && !crew.closed()) {
        const RestOutcome part = restore_from(fd, size, header, at, 0, decoder, output, true);
        mornak_decoder_position(decoder, &at);
        if (part.status != MORNAK_OK || at.bk_bit == 8 * size) {
            return part;
        }
    }
    if (k == 0) {
        return restore_from(fd, size, header, at, 0, decoder, output);
    }
    const Written written = crew.write_segments(k, at, expected, output);
    switch (written.how) {
        case Written::ended:
            return {written.status, 0, 0};
        case Written::write_failed:
            return {MORNAK_MORE, 0, written.error};
        case Written::go_on:
            break;
    }
    return restore_from(fd, size, header, written.from, written.skip, decoder, output);
}

bool test_on_threads(int fd, std::uint64_t size, const Threads& threads) {
    const MappedFile mapped(fd, size);
    const std::span<const std::uint8_t> bk = mapped.bytes();
    const std::vector<mornak_point> points = scan(bk);
    if (bk.size() != size || points.size() < 2) {
        return false;
    }
    const auto count = static_cast<unsigned>(std::min<std::size_t>(threads.count, points.size()));
    struct Result {
        mornak_status status = MORNAK_MORE;
        mornak_point end{};
    };
    std::vector<Result> results(points.size());
    std::atomic<std::size_t> next_segment{0};
    std::atomic<bool> failed{false};
    Crew crew;
    crew.start(count, [&](unsigned) {
        const std::unique_ptr<mornak_verifier, FreeVerifier> verifier(mornak_verifier_create());
        if (verifier == nullptr) {
            failed = true;
            return;
        }
        for (std::size_t k = next_segment++; k < points.size() && !failed; k = next_segment++) {
            results[k].status =
                mornak_verifier_check_segment(verifier.get(), bk.data(), bk.size(), &points[k], &results[k].end);
            if (results[k].status != MORNAK_OK) {
                failed = true;
            }
        }
    });
    crew.join();
    if (failed) {
        return false;
    }
    std::uint64_t expected = 0;
    mornak_content_size(bk.data(), bk.size(), &expected);
    std::uint64_t total = 0;  // each segment's length: all but the first restore from an unknown offset
    for (std::size_t k = 0; k < points.size(); ++k) {
        const std::uint64_t end = k + 1 == points.size() ? 8 * std::uint64_t{bk.size()} : points[k + 1].bk_bit;
        if (results[k].status != MORNAK_OK || results[k].end.bk_bit != end) {
            return false;
        }
        total += results[k].end.content_offset;
    }
    return total == expected;
}

}  // namespace programs

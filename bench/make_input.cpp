// Writes a deterministic benchmark input: the same bytes on every machine for
// the same kind, size and seed (own generator, no library distributions).
//
//   make_input text|records BYTES SEED FILE
//
// text:    word-level English-like prose: Zipf-distributed vocabulary,
//          sentences with commas, capitals and full stops, lines wrapped at
//          72 columns, blank lines between paragraphs.
// records: binary records as a program might log them: little-endian
//          counters and timestamps, a few repeated categories and names,
//          amounts, flags and a short free-text note.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::uint64_t rng_state = 0;

std::uint64_t next_random() {  // splitmix64
    std::uint64_t z = (rng_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next_random() % n); }

// Output goes out in blocks so a 2 GiB input never sits in memory.
std::FILE* out_file = nullptr;
std::uint64_t left = 0;  // bytes still to write
std::string pending;

void put(std::string_view text) {
    pending.append(text);
    if (pending.size() >= (1u << 20)) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(pending.size(), left));
        if (std::fwrite(pending.data(), 1, n, out_file) != n) {
            std::perror("make_input: write");
            std::exit(1);
        }
        left -= n;
        pending.clear();
    }
}

void finish() {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(pending.size(), left));
    if (std::fwrite(pending.data(), 1, n, out_file) != n || std::fclose(out_file) != 0) {
        std::perror("make_input: write");
        std::exit(1);
    }
}

constexpr std::array<std::string_view, 120> common_words = {
    "the", "of", "and", "to", "a", "in", "that", "it", "was", "he", "for", "on", "is", "with", "as", "his",
    "had", "you", "at", "by", "be", "not", "but", "from", "this", "her", "she", "they", "which", "or", "have",
    "all", "were", "one", "we", "an", "their", "there", "been", "would", "so", "if", "no", "what", "said",
    "when", "him", "will", "who", "more", "out", "up", "into", "them", "could", "then", "my", "me", "some",
    "time", "than", "little", "about", "any", "only", "very", "other", "upon", "man", "its", "may", "do",
    "now", "like", "these", "our", "great", "such", "should", "well", "made", "after", "before", "over",
    "down", "first", "two", "must", "old", "see", "how", "long", "day", "good", "never", "house", "where",
    "through", "every", "again", "without", "know", "came", "thought", "under", "while", "night", "water",
    "himself", "door", "hand", "eyes", "place", "river", "voice", "morning", "road", "letter", "window",
    "garden"};

constexpr std::array<std::string_view, 32> syllables = {
    "ar", "ben", "cal", "dor", "en", "fel", "gra", "hol", "in", "jun", "ker", "lo", "mar", "nes", "or", "pel",
    "qua", "ros", "sel", "tor", "um", "ven", "wil", "yar", "ment", "ing", "tion", "ly", "er", "ous", "ble", "est"};

// Ranks 0..n-1 with weight 1/(rank+1): the shape of word frequencies.
struct Zipf {
    std::vector<double> cumulative;
    explicit Zipf(std::size_t n) : cumulative(n) {
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i) {
            cumulative[i] = (sum += 1.0 / static_cast<double>(i + 1));
        }
    }
    std::size_t pick() const {
        const double u = static_cast<double>(next_random() >> 11) * 0x1p-53 * cumulative.back();
        return static_cast<std::size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), u) -
                                        cumulative.begin());
    }
};

void make_text() {
    std::vector<std::string> vocabulary(common_words.begin(), common_words.end());
    while (vocabulary.size() < 30000) {
        std::string word;
        for (auto parts = 1 + below(3) + below(2); parts-- > 0;) {
            word += syllables[below(syllables.size())];
        }
        vocabulary.push_back(word);
    }
    const Zipf zipf(vocabulary.size());
    std::string line;
    while (left > pending.size()) {
        const std::uint32_t sentences = 2 + below(7);
        for (std::uint32_t s = 0; s < sentences; ++s) {
            const std::uint32_t words = 4 + below(18);
            for (std::uint32_t w = 0; w < words; ++w) {
                std::string word = vocabulary[zipf.pick()];
                if (w == 0) {
                    word[0] = static_cast<char>(word[0] - 'a' + 'A');
                }
                if (below(200) == 0) {
                    word = std::to_string(below(2000));
                }
                if (w + 1 == words) {
                    constexpr std::array<std::string_view, 8> ends = {".", ".", ".", ".", ".", "?", "!", ";"};
                    word += ends[below(ends.size())];
                } else if (below(12) == 0) {
                    word += ",";
                }
                if (!line.empty() && line.size() + 1 + word.size() > 72) {
                    put(line);
                    put("\n");
                    line.clear();
                }
                if (!line.empty()) {
                    line += ' ';
                }
                line += word;
            }
        }
        put(line);
        put("\n\n");
        line.clear();
    }
}

void put_le(std::uint64_t value, int bytes) {
    char b[8];
    for (int i = 0; i < bytes; ++i) {
        b[i] = static_cast<char>(value >> (8 * i));
    }
    put({b, static_cast<std::size_t>(bytes)});
}

void make_records() {
    constexpr std::array<std::string_view, 16> cities = {
        "Amsterdam", "Bergen", "Cork", "Dresden", "Espoo", "Faro", "Graz", "Haarlem",
        "Izmir", "Jena", "Krakow", "Lyon", "Malmo", "Nantes", "Oulu", "Porto"};
    constexpr std::array<std::string_view, 8> notes = {
        "", "", "", "paid", "refund requested", "shipped", "address changed", "back order"};
    const Zipf category(12);
    std::uint32_t id = 100000;
    std::uint32_t clock = 1700000000;
    while (left > pending.size()) {
        put("\xAB\xCD");
        put_le(id++, 4);
        put_le(clock += below(1000), 4);
        put_le(category.pick(), 2);
        std::string city(cities[category.pick() % cities.size()]);
        city.resize(16, '\0');
        put(city);
        put_le(below(1u << (1 + below(20))), 4);  // amounts spread over orders of magnitude
        put_le(below(4) == 0 ? 0x81u : 0x01u, 1);
        put_le(below(5) * 250, 2);  // quantity-like field with few values
        const std::string_view note = notes[below(notes.size())];
        put_le(note.size(), 1);
        put(note);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_input text|records BYTES SEED FILE\n");
        return 2;
    }
    left = std::strtoull(argv[2], nullptr, 10);
    rng_state = std::strtoull(argv[3], nullptr, 10);
    out_file = std::fopen(argv[4], "wb");
    if (out_file == nullptr) {
        std::perror(argv[4]);
        return 1;
    }
    if (std::strcmp(argv[1], "text") == 0) {
        make_text();
    } else if (std::strcmp(argv[1], "records") == 0) {
        make_records();
    } else {
        std::fprintf(stderr, "make_input: unknown kind %s\n", argv[1]);
        return 2;
    }
    finish();
    return 0;
}

// vetra-convert: converts typed input with the kernel library, one line per
// input ("input<TAB>candidate<TAB>...", control characters, backslashes and
// bytes that are not UTF-8 escaped), and with --learn types each input as
// into the input method and learns what it commits. Never writes to the
// system data directory; the user directory is saved by the kernel's own
// save at shut-down, and a save or a learning that fails fails the run. One
// thread.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <vetra/vetra_kernel.h>

#include "src/engine/start_folders.h"

namespace {

constexpr const char* kProgram = "vetra-convert";
// The places a conversion asks for, as the input method does.
constexpr uint32_t kPlaces = 2600;
constexpr int kDefaultTop = 5;

enum : int { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// The answers' stream. The kernel prints its own diagnostics on standard
// output; they must not break the one line per input, so main() gives the
// answers a private copy of standard output and sends the rest to standard
// error.
FILE* g_answers = stdout;
// Why an answer could not be written first (0: all were).
int g_answerError = 0;

const char* const kUsage =
    "Usage: vetra-convert [--data DIR] [--user DIR] [--top N] [--learn] [--verbose] [INPUT...]\n"
    "Converts each INPUT (or each line of standard input) and prints one line per\n"
    "input: the input, a tab, and its first N candidates separated by tabs (line\n"
    "breaks, tabs and backslashes in them written \\n, \\r, \\t and \\\\, other\n"
    "control characters and bytes that are not UTF-8 \\xHH).\n"
    "\n"
    "  --data DIR  system data directory (default: the build's data when run\n"
    "              from a build, else " VETRA_CLI_INSTALLED_DATA
    " beside the installed program)\n"
    "  --user DIR  user directory, made when missing (default: ~/.config/VetraPY)\n"
    "  --top N     candidates per line, 1 to 2600 (default: 5)\n"
    "  --learn     type each input as into the input method and learn what it\n"
    "              commits: each run of letters its first candidates, a number\n"
    "              after letters that candidate of the page (punctuation, spaces\n"
    "              and hyphens between go out as typed)\n"
    "  --verbose   also tell each optional file that does not exist yet\n"
    "  --help      show this text\n"
    "\n"
    "Input starting with v or > gives numbers, amounts, dates and calculations,\n"
    "u strokes (h s p n z), text with @ or . web addresses.\n"
    "Exit status: 0 done (a line with nothing to learn, such as a number, learns\n"
    "nothing and is no failure); 1 the data or user directory cannot be used (a\n"
    "core data file missing or damaged, a user directory that is, holds or lies in\n"
    "the data directory), an input failed, the input could not be read, the answers\n"
    "could not be written, or what was learned could not be saved; 2 bad usage.\n";

void Error(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

// One answer line.
void Answer(const std::string& line) {
    if (std::fprintf(g_answers, "%s\n", line.c_str()) < 0 && !g_answerError)
        g_answerError = errno ? errno : EIO;
}

// Writes out and closes the answers' stream; false, told, when any answer
// could not be written.
bool CloseAnswers() {
    if (std::fflush(g_answers) != 0 && !g_answerError) g_answerError = errno ? errno : EIO;
    if (std::ferror(g_answers) && !g_answerError) g_answerError = EIO;
    if (g_answers != stdout && std::fclose(g_answers) != 0 && !g_answerError)
        g_answerError = errno ? errno : EIO;
    g_answers = stdout;
    if (!g_answerError) return true;
    Error(std::string("cannot write the answers: ") + std::strerror(g_answerError));
    return false;
}

// Length of the well-formed UTF-8 sequence at text[i] (1 to 4), or 0 when
// the byte there begins none.
size_t Utf8SequenceAt(const std::string& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80)
        return 1;
    else if ((c & 0xE0) == 0xC0)
        cp = c & 0x1F, n = 2;
    else if ((c & 0xF0) == 0xE0)
        cp = c & 0x0F, n = 3;
    else if ((c & 0xF8) == 0xF0)
        cp = c & 0x07, n = 4;
    else
        return 0;
    if (i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char t = static_cast<unsigned char>(text[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (t & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Line breaks, TABs and backslashes as \n, \r, \t and \\, and every other
// control character and every byte that is not UTF-8 as \xHH: an input or a
// candidate (a character-art picture has line breaks) keeps to its line and
// its column, and a terminal shows what was typed rather than obeying it.
std::string Escaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        const size_t n = Utf8SequenceAt(text, i);
        if (n > 1) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        ++i;
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (n == 1 && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
                    out.push_back(c);
                } else {
                    static constexpr char kHex[] = "0123456789ABCDEF";
                    const unsigned char b = static_cast<unsigned char>(c);
                    out += "\\x";
                    out.push_back(kHex[b >> 4]);
                    out.push_back(kHex[b & 0xF]);
                }
        }
    }
    return out;
}

// An input as a message quotes it: escaped, and cut after its first
// kQuotedChars characters, so that one over-long line is not told whole.
std::string Quoted(const std::string& text) {
    constexpr size_t kQuotedChars = 40;
    size_t end = 0;
    for (size_t chars = 0; end < text.size() && chars < kQuotedChars; ++chars) {
        const size_t n = Utf8SequenceAt(text, end);
        end += n ? n : 1;
    }
    return end < text.size() ? Escaped(text.substr(0, end)) + "..." : Escaped(text);
}

// UTF-8 to one wchar_t per character; false on a malformed sequence.
bool Widen(const std::string& in, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        const size_t n = Utf8SequenceAt(in, i);
        if (n == 0) return false;
        const unsigned char c = static_cast<unsigned char>(in[i]);
        uint32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
        out.push_back(wchar_t(cp));
        i += n;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// A candidate's UTF-16 text as UTF-8 and as wide text.
void CandidateText(const t_candWord* candidate, std::string* utf8, std::wstring* wide) {
    size_t n = 0;
    // The units may lie at an odd address: each is copied out, never read
    // through the pointer.
    const auto* bytes = reinterpret_cast<const unsigned char*>(GetCandidateText(candidate, &n));
    const auto unit = [&](size_t i) {
        uint16_t u;
        std::memcpy(&u, bytes + 2 * i, sizeof u);
        return uint32_t(u);
    };
    for (size_t i = 0; bytes && i < n; ++i) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(++i) - 0xDC00);
        if (utf8) AppendUtf8(*utf8, cp);
        if (wide) wide->push_back(wchar_t(cp));
    }
}

std::wstring WidePath(const std::string& path) {
    std::wstring out;
    return Widen(path, out) ? out : std::wstring();
}

std::string ProgramDir() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The build's data when this program is the one in the build tree, else the
// data installed beside it (<prefix>/bin -> <prefix>/share/...).
std::string DefaultDataDir() {
    const std::string dir = ProgramDir();
    if (!dir.empty() && dir == VETRA_CLI_BUILD_DIR && *VETRA_CLI_BUILD_DATA)
        return VETRA_CLI_BUILD_DATA;
    const std::string base = dir.empty() ? std::string(VETRA_CLI_INSTALL_PREFIX) : dir + "/..";
    return base + "/" VETRA_CLI_INSTALLED_DATA;
}

struct t_args {
    std::string data, user;
    int top = kDefaultTop;
    bool learn = false;
    bool verbose = false;
    bool help = false;
    std::vector<std::string> inputs;
};

// False (with the message told) on bad usage.
bool ParseArgs(int argc, char** argv, t_args& args) {
    bool inputsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (inputsOnly || a.empty() || a[0] != '-' || a == "-") {
            args.inputs.push_back(a);
            continue;
        }
        if (a == "--") {
            inputsOnly = true;
        } else if (a == "--help" || a == "-h") {
            args.help = true;
        } else if (a == "--learn") {
            args.learn = true;
        } else if (a == "--verbose") {
            args.verbose = true;
        } else if (a == "--data" || a == "--user" || a == "--top") {
            if (i + 1 >= argc) {
                Error("option " + a + " needs a value");
                return false;
            }
            const std::string v = argv[++i];
            if (a == "--data") {
                args.data = v;
            } else if (a == "--user") {
                args.user = v;
            } else {
                char* end = nullptr;
                errno = 0;
                const long n = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end || errno || n < 1 || n > long(kPlaces)) {
                    Error("--top wants a number from 1 to 2600, not '" + v + "'");
                    return false;
                }
                args.top = int(n);
            }
        } else {
            Error("unknown option " + a);
            return false;
        }
    }
    return true;
}

// Whether a candidate is one the input method commits as it is, never a
// word: a number (also written in Chinese numerals), an amount, a date or
// time, a Roman numeral, a calculation's result, a symbol.
bool IsNumberModeCandidate(const t_candWord* candidate) {
    switch (GetCandidateSourceType(candidate)) {
        case 21:  // numeral
        case 22:  // amount
        case 23:  // date or time
        case 24:  // Roman numeral
        case 25:  // calculation
        case 26:  // symbol
            return true;
        default:
            return false;
    }
}

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// English letters alone, which go to the English words.
bool IsLetters(const std::wstring& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsAsciiLetter);
}

bool HasChinese(const std::wstring& text) {
    return std::any_of(text.begin(), text.end(), [](wchar_t c) {
        return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
               (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3134F);
    });
}

// The candidates one page of the input method shows (fcitx's default), among
// which a number key chooses.
constexpr int kPageSize = 5;

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// The first candidates chosen over one run of keys, as Space chooses them
// until the run is used up: the text and reading learned as one commit.
struct t_commit {
    std::wstring text;
    std::vector<uint16_t> ids;
    int choices = 0;
    bool withReading = true;
    bool numbersOnly = true;  // every choice a number, a date, a calculation...
    // The first choice of ASCII letters alone (a capital as typed, an
    // English word), and whether one holds other text: the input method
    // learns neither beside the other.
    std::wstring letters;
    bool other = false;
};

void AddChoice(t_commit& commit, const t_candWord* candidate) {
    std::wstring text;
    CandidateText(candidate, nullptr, &text);
    bool letters = false, other = false;
    for (const wchar_t c : text) {
        letters = letters || IsAsciiLetter(c);
        other = other || c >= 0x80;
    }
    if (letters && !other && commit.letters.empty()) commit.letters = text;
    commit.other = commit.other || other;
    commit.text += text;
    ++commit.choices;
    commit.numbersOnly = commit.numbersOnly && IsNumberModeCandidate(candidate);
    const t_lstr* reading = GetCandidateSyllables(candidate);
    if (!reading) {
        commit.withReading = false;
        return;
    }
    // A t_lstr: a little-endian 16-bit byte count, then the units.
    const auto* bytes = reinterpret_cast<const uint8_t*>(reading);
    const size_t count = size_t(bytes[0] | bytes[1] << 8) / 2;
    for (size_t i = 0; i < count; ++i)
        commit.ids.push_back(uint16_t(bytes[2 + 2 * i] | bytes[3 + 2 * i] << 8));
}

// Whether the input method learns the commit; false, with the reason
// when one is worth telling (none for numbers, addresses, punctuation), when
// it learns nothing of it.
bool Learnable(const t_commit& commit, std::string* why) {
    why->clear();
    if (commit.choices == 0 || commit.numbersOnly) return false;
    if (!commit.letters.empty() && commit.other) {
        std::string letters;
        for (const wchar_t c : commit.letters) letters.push_back(char(c));
        *why = letters + " goes out as letters, which are not learned beside Chinese";
        return false;
    }
    if (IsLetters(commit.text)) return true;
    if (!HasChinese(commit.text)) return false;
    // Without syllables the kernel files a single character under each of
    // its readings, and nothing longer.
    if (!commit.withReading && commit.text.size() > 1) {
        *why = "its candidate has no reading";
        return false;
    }
    return true;
}

class t_converter {
public:
    explicit t_converter(const t_args& args) : m_args(args), m_results(kPlaces, nullptr) {}

    // One line for the input; false when the input could not be converted
    // or, with --learn, not learned.
    bool Run(const std::string& line) {
        std::string out = Escaped(line);
        std::wstring input;
        if (!Widen(line, input)) {
            Error("not UTF-8: " + Quoted(line));
            Answer(out);
            return false;
        }
        if (input.size() > kMaxConvertInputChars) {
            Error("longer than 78 characters (" + std::to_string(input.size()) +
                  "): " + Quoted(line));
            Answer(out);
            return false;
        }
        const int n = Convert(input);
        for (int i = 0; i < n && i < m_args.top; ++i) {
            std::string text;
            CandidateText(m_results[size_t(i)], &text, nullptr);
            out += '\t' + Escaped(text);
        }
        Answer(out);
        return !m_args.learn || input.empty() || Learn(line, input);
    }

private:
    int Convert(std::wstring input) {
        uint8_t scratch[kConvertScratchBytes] = {};
        const int n = ConvertInput(input.data(), m_results.data(), scratch, 0, kPlaces, nullptr,
                                   nullptr, 0, 0, 0, nullptr);
        return n > 0 ? n : 0;
    }

    // Whether the kernel reads the whole input in one of its own modes, where
    // every character is input: numbers and calculations after v or >,
    // strokes after u, and a web address or mail, where the kernel sends a
    // text with "@" or "." and offers one for it. A "." or "@" that makes no
    // address is punctuation, as in the input method.
    bool WholeInputMode(const std::wstring& input) {
        if (input.empty()) return false;
        const wchar_t first = input[0];
        if (first == L'v' || first == L'>' || first == L'u') return true;
        return input.find_first_of(L"@.") != std::wstring::npos && Convert(input) > 0;
    }

    // Types the line as into the input method and learns what it would.
    // Letters (and apostrophes after them) go into the composition. Space,
    // a mark or the end of the line commits it, its first candidates chosen
    // until it is used up, and learns it as one word with its syllables
    // (none when a piece has none); a mark goes out after it. A number key
    // chooses that candidate of the page (the composition is committed once
    // the choices use it up); 0, or a number the page does not reach, is
    // typed into the composition, which then converts nothing and goes out
    // as typed, unlearned. Keys with no composition open go out as typed. In
    // the kernel's own modes (v, >, u, a web address) the whole line is one
    // composition. An auxiliary code after a TAB narrows the first choice
    // only. False, told, when the user dictionary did not take a word.
    bool Learn(const std::string& line, const std::wstring& whole) {
        const size_t tab = whole.find(L'\t', 1);
        const std::wstring input = whole.substr(0, tab);
        std::wstring aux = tab == std::wstring::npos ? std::wstring() : whole.substr(tab);
        // A tone mark, Chinese text, a full-width mark: the input method is
        // given no such key, so nothing of the line is typed.
        const auto noKey = std::find_if(input.begin(), input.end(),
                                        [](wchar_t c) { return c < 0x20 || c > 0x7E; });
        if (noKey != input.end()) {
            std::string key;
            AppendUtf8(key, uint32_t(*noKey));
            return NothingLearned(line, Escaped(key) + " is no key of the input method");
        }
        t_typing typing;
        if (WholeInputMode(input)) {
            ChooseRest(typing.commit, input, 0, aux);
            return Committed(line, typing) && (typing.learned || NothingLearned(line, typing.why));
        }
        std::wstring run;        // the composition's keys
        size_t used = 0;         // how many of them the choices cover
        wchar_t typedDigit = 0;  // a digit typed into it: nothing is converted
        for (const wchar_t c : input) {
            if (IsAsciiLetter(c) || (c == L'\'' && !run.empty())) {
                run.push_back(c);
                continue;
            }
            if (run.empty()) continue;  // out as typed
            if (typedDigit && c != L' ') {
                run.push_back(c);
                continue;
            }
            if (typedDigit) {
                Unconverted(typing, typedDigit);  // Space sends it as it stands
            } else if (IsDigit(c)) {
                const int number = c - L'0';
                const int n = Convert(run.substr(used) + (used == 0 ? aux : std::wstring()));
                if (number == 0 || number > std::min(n, kPageSize)) {
                    run.push_back(c);
                    typedDigit = c;
                    continue;
                }
                const t_candWord* chosen = m_results[size_t(number - 1)];
                const uint32_t covered = GetCandidateCoveredLength(chosen);
                if (covered == 0) continue;
                AddChoice(typing.commit, chosen);
                used = std::min(run.size(), used + covered);
                if (used < run.size()) continue;
                if (!Committed(line, typing)) return false;
            } else {
                ChooseRest(typing.commit, run, used, used == 0 ? aux : std::wstring());
                if (!Committed(line, typing)) return false;
            }
            run.clear();
            used = 0;
            typedDigit = 0;
            aux.clear();
        }
        if (typedDigit) {
            Unconverted(typing, typedDigit);
        } else if (!run.empty()) {
            ChooseRest(typing.commit, run, used, used == 0 ? aux : std::wstring());
            if (!Committed(line, typing)) return false;
        }
        return typing.learned || NothingLearned(line, typing.why);
    }

    // What a line's typing learned, and why not when it learned nothing.
    struct t_typing {
        t_commit commit;  // the composition's choices so far
        bool learned = false;
        std::string why;
    };

    // The composition committed: learned when the input method learns it.
    // False, told, when the user dictionary did not take it.
    bool Committed(const std::string& line, t_typing& typing) {
        const t_commit commit = std::move(typing.commit);
        typing.commit = t_commit();
        std::string reason;
        if (!Learnable(commit, &reason)) {
            if (typing.why.empty()) typing.why = reason;
            return true;
        }
        if (!LearnCommit(line, commit)) return false;
        typing.learned = true;
        return true;
    }

    // A composition holding a digit goes out as typed, its choices with it.
    void Unconverted(t_typing& typing, wchar_t digit) {
        typing.commit = t_commit();
        if (typing.why.empty())
            typing.why = std::string(1, char(digit)) +
                         " chooses no candidate there, so the composition goes out as it stands";
    }

    // The first candidates of a run from `used` on, chosen until it is used
    // up; what no candidate covers goes out as typed, no part of the commit.
    void ChooseRest(t_commit& commit, const std::wstring& run, size_t used,
                    const std::wstring& aux) {
        for (bool first = true; used < run.size(); first = false) {
            const int n = Convert(run.substr(used) + (first ? aux : std::wstring()));
            const t_candWord* candidate = n > 0 ? m_results[0] : nullptr;
            const uint32_t covered = GetCandidateCoveredLength(candidate);
            if (!candidate || covered == 0) break;
            AddChoice(commit, candidate);
            used += covered;
        }
    }

    bool LearnCommit(const std::string& line, const t_commit& commit) {
        std::vector<uint8_t> pinyin;
        if (commit.withReading && !commit.ids.empty() && commit.ids.size() < 32768) {
            const size_t bytes = 2 * commit.ids.size();
            pinyin = {uint8_t(bytes & 0xFF), uint8_t(bytes >> 8)};
            for (uint16_t id : commit.ids) {
                pinyin.push_back(uint8_t(id & 0xFF));
                pinyin.push_back(uint8_t(id >> 8));
            }
        }
        const t_lstr* reading =
            pinyin.empty() ? nullptr : reinterpret_cast<const t_lstr*>(pinyin.data());
        if (LearnCommittedText(commit.text.c_str(), reading, 0)) return true;
        std::string word;
        for (const wchar_t c : commit.text) AppendUtf8(word, uint32_t(c));
        Error("could not learn " + Escaped(word) + " of " + Escaped(line) +
              ": the user dictionary in " + m_args.user + " did not take it");
        return false;
    }

    // Numbers (in Chinese numerals too), a date, a calculation, a web
    // address, punctuation: the input method commits them without learning,
    // and so does this. True: no failure.
    bool NothingLearned(const std::string& line, const std::string& why) {
        if (m_args.verbose)
            Error("nothing to learn in " + Escaped(line) + (why.empty() ? "" : ": " + why));
        return true;
    }

    const t_args& m_args;
    std::vector<t_candWord*> m_results;
};

}  // namespace

int main(int argc, char** argv) {
    t_args args;
    if (!ParseArgs(argc, argv, args)) {
        std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
        return kExitUsage;
    }
    if (args.help) {
        if (std::fputs(kUsage, stdout) < 0) g_answerError = errno ? errno : EIO;
        return CloseAnswers() ? kExitOk : kExitFailure;
    }
    if (args.data.empty()) args.data = DefaultDataDir();
    // Every file of the data must be readable: a table left out would only
    // make the candidates poorer, which nobody would notice.
    std::vector<std::string> dataFiles = n_startFolders::FilesIn(args.data);
    dataFiles.insert(dataFiles.end(), n_startFolders::kCoreDataFiles.begin(),
                     n_startFolders::kCoreDataFiles.end());
    const std::string unreadable = n_startFolders::UnreadableFiles(args.data, dataFiles);
    const std::wstring sys = WidePath(args.data);
    if (!unreadable.empty() || sys.empty()) {
        Error("cannot use the system data directory " + args.data + ": " +
              (sys.empty() ? "its name is not UTF-8" : unreadable) + " (use --data DIR)");
        return kExitFailure;
    }
    // The user directory is made when missing (the default one only inside
    // a home folder that is there) and must be readable and writable.
    std::string why;
    const char* home = std::getenv("HOME");
    // Never the system data directory, one inside it or one holding it: the
    // kernel would take the system's files for the user's, set them aside
    // as damaged and write over them. Told before anything is made there.
    const std::string userDir =
        !args.user.empty() ? args.user : std::string(home ? home : "") + "/.config/VetraPY";
    if ((!args.user.empty() || (home && *home)) &&
        !(why = n_startFolders::UserFolderClash(userDir, args.data)).empty()) {
        Error("the user directory " + userDir + " " + why + " the system data directory " +
              args.data + " (use --user DIR)");
        return kExitFailure;
    }
    if (args.user.empty() ? !n_startFolders::PrepareUserFolder(home ? home : "", ".config/VetraPY",
                                                               true, &args.user, &why)
                          : !n_startFolders::PrepareFolder(args.user, &why)) {
        Error("no usable user directory" + (args.user.empty() ? "" : " " + args.user) + ": " + why +
              " (use --user DIR)");
        return kExitFailure;
    }
    const std::wstring user = WidePath(args.user);
    if (user.empty()) {
        Error("user directory is not UTF-8: " + args.user);
        return kExitFailure;
    }

    std::fflush(stdout);
    const int answers = dup(STDOUT_FILENO);
    FILE* answerStream = answers >= 0 ? fdopen(answers, "w") : nullptr;
    if (answerStream && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) {
        g_answers = answerStream;
    } else if (answerStream) {
        std::fclose(answerStream);
    } else if (answers >= 0) {
        close(answers);
    }
    SetKernelVerbose(args.verbose ? 1 : 0);
    // A core file that is there but damaged fails the start as a missing
    // one does (the kernel names it): nothing could be converted.
    const bool started = InitDictionaries(L"Vetra", user.c_str(), sys.c_str(), user.c_str(),
                                          L"vetra-convert", nullptr, 1, 0, nullptr) == 1;
    t_kernelOptions options;
    SetKernelOptions(&options);
    if (!started || RegisterKeyPyMap(0) != 1) {
        Error("the kernel did not start on " + args.data);
        ShutdownDictionaries();
        return kExitFailure;
    }

    t_converter converter(args);
    bool ok = true;
    if (!args.inputs.empty()) {
        for (const std::string& input : args.inputs) ok = converter.Run(input) && ok;
    } else {
        // Each answer as soon as it is there: a program may talk with this
        // one line by line.
        std::setvbuf(g_answers, nullptr, _IOLBF, 0);
        char* buf = nullptr;
        size_t capacity = 0;
        ssize_t got;
        while ((got = getline(&buf, &capacity, stdin)) >= 0) {
            std::string line(buf, size_t(got));
            if (!line.empty() && line.back() == '\n') line.pop_back();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ok = converter.Run(line) && ok;
        }
        // The end of the input and a failed read look alike to getline.
        if (std::ferror(stdin)) {
            Error(std::string("cannot read standard input: ") + std::strerror(errno));
            ok = false;
        }
        std::free(buf);
    }
    // Answers that never arrived (a full disk, a closed pipe) fail the run.
    if (!CloseAnswers()) ok = false;
    if (!ShutdownDictionaries()) {
        Error("could not save into the user directory " + args.user +
              (args.learn ? ": what was learned is lost" : ""));
        ok = false;
    }
    return ok ? kExitOk : kExitFailure;
}

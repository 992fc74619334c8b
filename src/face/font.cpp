#include "face/font.hpp"

#include "base/descriptor.hpp"
#include "face/font_data.hpp"
#include "settings/value_syntax.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace kd {

namespace {

std::string too_large_text(std::uint64_t size)
{
    return "Font file too large (" + std::to_string(size) + " bytes, max " +
           std::to_string(MAX_FONT_FILE_SIZE) + " bytes)";
}

} // namespace

// Only regular files are read. A directory gives the system's EISDIR text; a FIFO, socket or
// device (/dev/zero never ends, a FIFO may never deliver) is refused before anything is read,
// so reading a font can neither hang nor exhaust memory. The read itself is bounded too, in
// case the file grows after the size check.
std::expected<std::vector<std::uint8_t>, std::string> read_font_file(const std::string& path)
{
    struct stat metadata {};
    if (::stat(path.c_str(), &metadata) != 0) return std::unexpected(os_error_text(errno));
    if (S_ISDIR(metadata.st_mode)) return std::unexpected(os_error_text(EISDIR));
    if (!S_ISREG(metadata.st_mode)) return std::unexpected(std::string("Not a regular file"));
    const auto reported = static_cast<std::uint64_t>(metadata.st_size);
    if (reported > MAX_FONT_FILE_SIZE) return std::unexpected(too_large_text(reported));

    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0) return std::unexpected(os_error_text(errno));
    // The path may have been replaced between the two looks.
    struct stat opened {};
    if (::fstat(file.fd, &opened) != 0) return std::unexpected(os_error_text(errno));
    if (S_ISDIR(opened.st_mode)) return std::unexpected(os_error_text(EISDIR));
    if (!S_ISREG(opened.st_mode)) return std::unexpected(std::string("Not a regular file"));

    // One byte more than expected, so that the end of the file is seen without a second
    // allocation; a file that grew meanwhile still stops at the limit.
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(opened.st_size),
                                                         MAX_FONT_FILE_SIZE)) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (bytes.size() > MAX_FONT_FILE_SIZE) return std::unexpected(too_large_text(filled));
            bytes.resize(std::min<std::size_t>(bytes.size() * 2, MAX_FONT_FILE_SIZE + 1));
        }
        const ssize_t got = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error_text(errno));
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    return bytes;
}

namespace {

constexpr std::size_t MAX_MATCHER_OUTPUT = 64 * 1024;
constexpr auto MATCHER_DEADLINE = std::chrono::seconds(10);
// What execvp searches when PATH is unset.
constexpr std::string_view DEFAULT_SEARCH_PATH = "/bin:/usr/bin";

bool is_executable_file(const std::string& path)
{
    struct stat metadata {};
    return ::stat(path.c_str(), &metadata) == 0 && S_ISREG(metadata.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The first executable `name` along the search path; an empty entry is the current directory.
std::optional<std::string> find_in_path(std::string_view name, std::string_view search_path)
{
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = search_path.find(':', start);
        const std::string_view dir = search_path.substr(
            start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
        std::string candidate = dir.empty() ? std::string(name)
                                            : std::string(dir) + "/" + std::string(name);
        if (dir.empty()) candidate = "./" + candidate;
        if (is_executable_file(candidate)) return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        start = colon + 1;
    }
}

// Invalid sequences become U+FFFD, so the text handed on is always valid UTF-8.
std::string valid_utf8(std::string_view text)
{
    static constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char lead = byte(i);
        std::size_t length = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) length = 2, minimum = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF) length = 3, minimum = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4) length = 4, minimum = 0x10000;
        bool valid = length != 0 && i + length <= text.size();
        char32_t code = valid ? lead & (0xFF >> (length + 1)) : 0;
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80) valid = false;
            else code = (code << 6) | (byte(i + k) & 0x3F);
        }
        if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            valid = false;
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            // Skip the lead byte and any continuation bytes that belong to it.
            out += REPLACEMENT;
            ++i;
            while (i < text.size() && (byte(i) & 0xC0) == 0x80 && length-- > 1) ++i;
        }
    }
    return out;
}

struct SpawnActions {
    posix_spawn_file_actions_t actions{};
    bool ready = false;
    SpawnActions() { ready = posix_spawn_file_actions_init(&actions) == 0; }
    ~SpawnActions()
    {
        if (ready) posix_spawn_file_actions_destroy(&actions);
    }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes{};
    bool ready = false;
    SpawnAttributes() { ready = posix_spawnattr_init(&attributes) == 0; }
    ~SpawnAttributes()
    {
        if (ready) posix_spawnattr_destroy(&attributes);
    }
};

using Deadline = std::chrono::steady_clock::time_point;

// The child's wait status, or -1. A child still running at the deadline is killed first, so a
// matcher that closed its output but never ends cannot hold up start-up either.
int wait_for_child(pid_t child, Deadline deadline)
{
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) break;
        ::usleep(2000);
    }
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}

// Reads the child's output until it closes it. A child that talks too much or takes too long
// is killed: font discovery must not hold up start-up.
std::optional<std::string> collect_output(int fd, pid_t child, Deadline deadline)
{
    std::string output;
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return output;
        if (output.size() + static_cast<std::size_t>(got) > MAX_MATCHER_OUTPUT) break;
        output.append(chunk, static_cast<std::size_t>(got));
    }
    ::kill(child, SIGKILL);
    return std::nullopt;
}

} // namespace

std::optional<std::string> fc_match_monospace(const Environment& env)
{
    const std::optional<std::string> search_path = env.get("PATH");
    const std::optional<std::string> program =
        find_in_path("fc-match", search_path ? std::string_view(*search_path) : DEFAULT_SEARCH_PATH);
    if (!program) return std::nullopt;

    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return std::nullopt;
    Descriptor read_end(pipe_ends[0]);
    Descriptor write_end(pipe_ends[1]);

    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.ready || !attributes.ready) return std::nullopt;
    posix_spawn_file_actions_addopen(&actions.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions.actions, write_end.fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The program ignores SIGPIPE for itself; the child gets the default back.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t no_mask;
    sigemptyset(&no_mask);
    posix_spawnattr_setsigdefault(&attributes.attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes.attributes, &no_mask);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::string arg0 = "fc-match", arg1 = "--format", arg2 = "%{file}", arg3 = "monospace";
    char* arguments[] = {arg0.data(), arg1.data(), arg2.data(), arg3.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, program->c_str(), &actions.actions, &attributes.attributes, arguments,
                    environ) != 0)
        return std::nullopt;
    write_end.reset();

    const Deadline deadline = std::chrono::steady_clock::now() + MATCHER_DEADLINE;
    const std::optional<std::string> output = collect_output(read_end.fd, child, deadline);
    read_end.reset();
    const int status = wait_for_child(child, deadline);
    if (!output || status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;

    const std::string decoded = valid_utf8(*output);
    const std::string_view trimmed = trim(decoded);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

FontSources system_font_sources(const Environment& env)
{
    FontSources sources;
    sources.font_matcher = [env] { return fc_match_monospace(env); };
    sources.candidates.assign(FALLBACK_FONTS.begin(), FALLBACK_FONTS.end());
    return sources;
}

namespace {

// FreeType's own wording for its error codes; its FT_Error_String is often built without them.
std::string freetype_error_text(FT_Error error)
{
    if (const char* text = FT_Error_String(error)) return text;
#undef FTERRORS_H_
#define FT_ERRORDEF(code, value, text) {value, text},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}};
    static constexpr struct {
        int code;
        const char* text;
    } ERRORS[] =
#include FT_ERRORS_H
        ;
    for (const auto& entry : ERRORS)
        if (entry.text != nullptr && entry.code == error) return entry.text;
    return "FreeType error " + std::to_string(error);
}

constexpr std::string_view PARSE_FAILURE = "Failed to parse font: ";

// The parsed font, or the reason it cannot be used.
std::expected<Font, std::string> parse_font(std::vector<std::uint8_t> bytes)
{
    // FreeType calls an empty buffer an invalid argument; for a font file it is simply not a
    // format it knows.
    if (bytes.empty()) return std::unexpected(freetype_error_text(FT_Err_Unknown_File_Format));
    auto data = std::make_unique<FontData>();
    data->bytes = std::move(bytes);

    FT_Library library = nullptr;
    if (const FT_Error error = FT_Init_FreeType(&library)) return std::unexpected(freetype_error_text(error));
    data->library.reset(library);

    FT_Face face = nullptr;
    if (const FT_Error error =
            FT_New_Memory_Face(library, data->bytes.data(), static_cast<FT_Long>(data->bytes.size()), 0, &face))
        return std::unexpected(freetype_error_text(error));
    data->face.reset(face);
    // Only outline fonts can be drawn at any size.
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)
        return std::unexpected(std::string("not a scalable outline font"));

    data->shaper.reset(hb_ft_font_create_referenced(face));
    data->shaping_buffer.reset(hb_buffer_create());
    if (!hb_buffer_allocation_successful(data->shaping_buffer.get()))
        return std::unexpected(freetype_error_text(FT_Err_Out_Of_Memory));
    hb_ft_font_set_load_flags(data->shaper.get(), GLYPH_LOAD_FLAGS);

    Font font;
    font.units_per_em = face->units_per_EM;
    if (FT_HAS_HORIZONTAL(face)) font.ascender = face->ascender;
    font.data = std::move(data);
    return font;
}

} // namespace

Font::Font() = default;
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;
Font::~Font() = default;

std::expected<Font, Error> load_font(std::vector<std::uint8_t> bytes)
{
    auto font = parse_font(std::move(bytes));
    if (!font) return std::unexpected(program_message(std::string(PARSE_FAILURE) + font.error()));
    return std::move(*font);
}

std::expected<FoundFont, Error> find_font(const std::optional<std::string>& configured,
                                          const FontSources& sources,
                                          const std::function<void(const std::string&)>& chosen)
{
    const auto announce = [&](const std::string& path) {
        if (chosen) chosen(path);
    };
    if (configured) {
        auto bytes = read_font_file(*configured);
        if (!bytes)
            return std::unexpected(
                program_message("Cannot read font '" + *configured + "': " + bytes.error()));
        announce(*configured);
        auto font = load_font(std::move(*bytes));
        if (!font) return std::unexpected(font.error());
        return FoundFont{*configured, std::move(*font)};
    }

    std::optional<std::string> first_failure;
    const auto usable = [&](const std::string& path) -> std::optional<FoundFont> {
        auto bytes = read_font_file(path);
        if (!bytes) return std::nullopt;
        auto font = parse_font(std::move(*bytes));
        if (!font) {
            if (!first_failure) first_failure = font.error() + " in '" + path + "'";
            return std::nullopt;
        }
        announce(path);
        return FoundFont{path, std::move(*font)};
    };
    if (sources.font_matcher) {
        if (const std::optional<std::string> matched = sources.font_matcher()) {
            if (auto found = usable(*matched)) return std::move(*found);
        }
    }
    for (const std::string& candidate : sources.candidates) {
        if (auto found = usable(candidate)) return std::move(*found);
    }
    if (first_failure)
        return std::unexpected(program_message(std::string(PARSE_FAILURE) + *first_failure +
                                               ". Use --font <path> to choose a font"));
    return std::unexpected(
        program_message("No font found. Install a monospace font or use --font <path>"));
}

} // namespace kd

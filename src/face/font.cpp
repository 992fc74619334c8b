#include "face/font.hpp"

#include "base/descriptor.hpp"
#include "face/font_data.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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
    struct stat metadata{};
    if (::stat(path.c_str(), &metadata) != 0) return std::unexpected(os_error_text(errno));
    if (S_ISDIR(metadata.st_mode)) return std::unexpected(os_error_text(EISDIR));
    if (!S_ISREG(metadata.st_mode)) return std::unexpected(std::string("Not a regular file"));
    const auto reported = static_cast<std::uint64_t>(metadata.st_size);
    if (reported > MAX_FONT_FILE_SIZE) return std::unexpected(too_large_text(reported));

    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0) return std::unexpected(os_error_text(errno));
    // The path may have been replaced between the two looks.
    struct stat opened{};
    if (::fstat(file.fd, &opened) != 0) return std::unexpected(os_error_text(errno));
    if (S_ISDIR(opened.st_mode)) return std::unexpected(os_error_text(EISDIR));
    if (!S_ISREG(opened.st_mode)) return std::unexpected(std::string("Not a regular file"));

    // One byte more than expected, so that the end of the file is seen without a second
    // allocation; a file that grew meanwhile still stops at the limit.
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(opened.st_size),
                                                         MAX_FONT_FILE_SIZE)) +
        1);
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

// FreeType's own wording for its error codes; its FT_Error_String is often built without them.
std::string freetype_error_text(FT_Error error)
{
    if (const char* text = FT_Error_String(error)) return text;
#undef FTERRORS_H_
#define FT_ERRORDEF(code, value, text) {value, text},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST                                                                          \
    {                                                                                              \
        0, nullptr                                                                                 \
    }                                                                                              \
    }                                                                                              \
    ;
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

// The parsed font, or the reason it cannot be used.
std::expected<Font, std::string> parse_font(std::vector<std::uint8_t> bytes)
{
    // FreeType calls an empty buffer an invalid argument; for a font file it is simply not a
    // format it knows.
    if (bytes.empty()) return std::unexpected(freetype_error_text(FT_Err_Unknown_File_Format));
    auto data = std::make_unique<FontData>();
    data->bytes = std::move(bytes);

    FT_Library library = nullptr;
    if (const FT_Error error = FT_Init_FreeType(&library))
        return std::unexpected(freetype_error_text(error));
    data->library.reset(library);

    FT_Face face = nullptr;
    if (const FT_Error error = FT_New_Memory_Face(
            library, data->bytes.data(), static_cast<FT_Long>(data->bytes.size()), 0, &face))
        return std::unexpected(freetype_error_text(error));
    data->face.reset(face);
    // Only outline fonts can be drawn at any size.
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)
        return std::unexpected(std::string("not a scalable outline font"));

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
    if (!font) return std::unexpected(program_message("Failed to parse font: " + font.error()));
    return std::move(*font);
}

} // namespace kd

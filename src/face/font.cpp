#include "face/font.hpp"

#include "base/file_reading.hpp"
#include "face/font_data.hpp"

namespace kd {

std::expected<std::vector<std::uint8_t>, Error> read_font_file(const std::string& path)
{
    return read_whole_file(path, ReadLimit{MAX_FONT_FILE_SIZE, "Font file"});
}

namespace {

// FreeType's own wording for its error codes; its FT_Error_String is often built without them.
std::string freetype_error_text(FT_Error error)
{
    if (const char* text = FT_Error_String(error)) return text;
    // clang-format off
#undef FTERRORS_H_
#define FT_ERRORDEF(code, value, text) {value, text},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}};
    // clang-format on
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

std::unexpected<Error> parse_failure(const std::string& reason)
{
    return std::unexpected(program_message("Failed to parse font: " + reason));
}

} // namespace

Font::Font() = default;
Font::Font(Font&&) noexcept = default;
Font& Font::operator=(Font&&) noexcept = default;
Font::~Font() = default;

std::expected<Font, Error> load_font(std::vector<std::uint8_t> bytes)
{
    // FreeType calls an empty buffer an invalid argument; for a font file it is simply not a
    // format it knows.
    if (bytes.empty()) return parse_failure(freetype_error_text(FT_Err_Unknown_File_Format));
    auto data = std::make_unique<FontData>();
    data->bytes = std::move(bytes);

    FT_Library library = nullptr;
    if (const FT_Error error = FT_Init_FreeType(&library))
        return parse_failure(freetype_error_text(error));
    data->library.reset(library);

    FT_Face face = nullptr;
    if (const FT_Error error = FT_New_Memory_Face(
            library, data->bytes.data(), static_cast<FT_Long>(data->bytes.size()), 0, &face))
        return parse_failure(freetype_error_text(error));
    data->face.reset(face);
    // Only outline fonts can be drawn at any size.
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0)
        return parse_failure("not a scalable outline font");

    Font font;
    font.units_per_em = face->units_per_EM;
    if (FT_HAS_HORIZONTAL(face)) font.ascender = face->ascender;
    font.data = std::move(data);
    return font;
}

} // namespace kd

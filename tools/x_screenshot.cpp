// Saves the root window of an X display as a PNG, so a headless run can be looked at.
//   kestrelDial-screenshot OUT.png [X Y W H]   (display from $DISPLAY)

#include <png.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

bool write_png(const char* path, int width, int height, const std::vector<unsigned char>& rgb)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, rgb.data() +
                               static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: %s OUT.png [X Y WIDTH HEIGHT]\n", argv[0]);
        return 1;
    }
    int screen_number = 0;
    std::unique_ptr<xcb_connection_t, Disconnect> connection(xcb_connect(nullptr, &screen_number));
    if (xcb_connection_has_error(connection.get()) != 0) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screen_number && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    const xcb_screen_t* screen = screens.data;

    int x = 0, y = 0, width = screen->width_in_pixels, height = screen->height_in_pixels;
    if (argc == 6) {
        x = std::atoi(argv[2]);
        y = std::atoi(argv[3]);
        width = std::atoi(argv[4]);
        height = std::atoi(argv[5]);
    }
    auto cookie = xcb_get_image(connection.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root,
                                static_cast<int16_t>(x), static_cast<int16_t>(y),
                                static_cast<uint16_t>(width), static_cast<uint16_t>(height), ~0u);
    std::unique_ptr<xcb_get_image_reply_t, FreeReply> image(
        xcb_get_image_reply(connection.get(), cookie, nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < width * height * 4) {
        std::fprintf(stderr, "cannot read the screen (a 24/32-bit screen is needed)\n");
        return 1;
    }
    const bool lsb_first =
        xcb_get_setup(connection.get())->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    const unsigned char* data = xcb_get_image_data(image.get());
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) *
                                   static_cast<std::size_t>(height) * 3);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
         ++i) {
        const unsigned char* p = data + i * 4;
        rgb[i * 3 + 0] = lsb_first ? p[2] : p[1];
        rgb[i * 3 + 1] = lsb_first ? p[1] : p[2];
        rgb[i * 3 + 2] = lsb_first ? p[0] : p[3];
    }
    if (!write_png(argv[1], width, height, rgb)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

#include "face/face_layout.hpp"

#include "face/face_texts.hpp"
#include "face/label_text.hpp"
#include "face/text_drawing.hpp"
#include "settings/value_syntax.hpp"

#include <algorithm>
#include <limits>

namespace kd {

TimeLineSizes fit_time_line(float time_size, float unit, float available,
                            const std::function<float(float)>& time_width,
                            const std::function<float(float)>& suffix_width)
{
    // While one size shrinks the other stays put: its width is measured once, not at every step.
    struct Measured {
        const std::function<float(float)>& measure;
        float size = std::numeric_limits<float>::quiet_NaN();
        float width = 0;
        float operator()(float at)
        {
            if (at != size) width = measure(size = at);
            return width;
        }
    };
    Measured time{time_width}, suffix{suffix_width};
    TimeLineSizes sizes{time_size, 15.0f * unit};
    // A suffix wider on its own than the room leaves nothing to try at any time size.
    const auto fits = [&] {
        const float suffix_alone = suffix(sizes.suffix);
        return !(suffix_alone > available) && time(sizes.time) + suffix_alone <= available;
    };
    const auto shrink = [&](float& size, float floor) {
        if (!(size > floor)) return;
        while (!fits()) {
            size -= unit;
            if (!(size > floor)) return;
        }
    };
    shrink(sizes.time, 13.0f * unit);
    shrink(sizes.suffix, 10.0f * unit);
    const float total = time(sizes.time) + suffix(sizes.suffix);
    if (!(total <= available) && total > 0) {
        const float factor = available / total;
        sizes.time *= factor;
        sizes.suffix *= factor;
    }
    return sizes;
}

namespace {

struct BevelStyle {
    Rgb top_left_base;
    float top_left_step[3];
    Rgb bottom_right_base;
    float bottom_right_step[3];
};

constexpr BevelStyle DEFAULT_BEVEL{{30, 30, 30}, {25, 25, 25}, {160, 160, 160}, {-40, -40, -40}};
constexpr BevelStyle ZENBURN_BEVEL{{35, 32, 28}, {25, 23, 20}, {160, 145, 125}, {-30, -27, -25}};

std::uint8_t ring_component(std::uint8_t base, float step, float q)
{
    const float value = std::clamp(static_cast<float>(base) + step * q, 0.0f, 255.0f);
    return static_cast<std::uint8_t>(value);
}

Rgb ring_color(Rgb base, const float (&step)[3], float q)
{
    return Rgb{ring_component(base.red, step[0], q), ring_component(base.green, step[1], q),
               ring_component(base.blue, step[2], q)};
}

void draw_bevel(PixelBuffer& buffer, const BevelStyle& style)
{
    const auto width = static_cast<std::int32_t>(buffer.width);
    const auto height = static_cast<std::int32_t>(buffer.height);
    for (std::int32_t j = 0; j < 4; ++j) {
        const float q = static_cast<float>(j) / 3.0f;
        const StoredPixel dark =
            stored_pixel(buffer, ring_color(style.top_left_base, style.top_left_step, q));
        const StoredPixel light =
            stored_pixel(buffer, ring_color(style.bottom_right_base, style.bottom_right_step, q));
        fill_row(buffer, j, j, width - 1 - j, dark);
        fill_column(buffer, j, j, height - 1 - j, dark);
        fill_row(buffer, height - 1 - j, j, width - 1 - j, light);
        fill_column(buffer, width - 1 - j, j, height - 1 - j, light);
    }
}

void draw_separator(PixelBuffer& buffer, float unit, float row, Rgb color)
{
    const std::int32_t inset = pixel_index(8.0f * unit);
    fill_row(buffer, pixel_index(row), inset, static_cast<std::int32_t>(buffer.width) - 1 - inset,
             stored_pixel(buffer, color));
}

// The y that centres the ink [top, bottom] of a layout within the band [band_top, band_bottom].
float centred_y(const InkExtent& ink, float band_top, float band_bottom)
{
    return (ink.top - ink.bottom + (band_bottom - band_top)) * 0.5f + band_top - ink.top;
}

float time_size_for(const Settings& settings, float unit)
{
    const bool twelve_hour = settings.format == TimeFormat::Hours12;
    if (twelve_hour && settings.seconds) return 18.0f * unit;
    if (twelve_hour || settings.seconds) return 22.0f * unit;
    return 28.0f * unit;
}

void draw_time_line(PixelBuffer& buffer, const Font& font, TextScratch& scratch,
                    const Settings& settings, const ShadeTable& shades, const FaceTexts& texts,
                    float unit)
{
    const auto width = static_cast<float>(buffer.width);
    const float band_top = 88.0f * unit + 1.0f;
    const float band_bottom = static_cast<float>(buffer.height) - 4.0f;
    const float table_size = time_size_for(settings, unit);

    if (!texts.suffix) {
        const auto ink = ink_extent(font, scratch, texts.time, table_size);
        const float y = ink ? centred_y(*ink, band_top, band_bottom) : 92.0f * unit;
        draw_text(buffer, font, scratch, texts.time, table_size, 0.0f, y, width, TextAlign::Center,
                  shades);
        return;
    }

    const std::string suffix = shown_suffix(*texts.suffix, buffer.width);
    const TimeLineSizes sizes = fit_time_line(
        table_size, unit, width - 12.0f * unit,
        [&](float size) { return text_width(font, scratch, texts.time, size); },
        [&](float size) { return text_width(font, scratch, suffix, size); });
    const float time_width = text_width(font, scratch, texts.time, sizes.time);
    const float suffix_width = text_width(font, scratch, suffix, sizes.suffix);
    const float x = std::max((width - (time_width + suffix_width)) * 0.5f, 6.0f * unit);
    const auto ink = ink_extent(font, scratch, texts.time, sizes.time);
    const float y = ink ? centred_y(*ink, band_top, band_bottom) : 92.0f * unit;

    float time_ascent = 0.8f * sizes.time;
    float suffix_ascent = 0.8f * sizes.suffix;
    if (font.ascender && font.units_per_em > 0) {
        const auto ascender = static_cast<float>(*font.ascender);
        const auto units_per_em = static_cast<float>(font.units_per_em);
        time_ascent = ascender * sizes.time / units_per_em;
        suffix_ascent = ascender * sizes.suffix / units_per_em;
    }
    draw_text(buffer, font, scratch, texts.time, sizes.time, x, y, width, TextAlign::Left, shades);
    draw_text(buffer, font, scratch, suffix, sizes.suffix, x + time_width,
              y + (time_ascent - suffix_ascent), width, TextAlign::Left,
              shade_table(buffer, settings.dim_color));
}

} // namespace

void paint_face(PixelBuffer& buffer, const Font& font, TextScratch& scratch,
                const Settings& settings, const Clock& clock)
{
    const FaceTexts texts = face_texts(settings, clock);
    clear_pixels(buffer);

    const auto width = static_cast<float>(buffer.width);
    const float unit = static_cast<float>(buffer.height) / 128.0f;

    // Every text but the suffix is in the main colour: its shades are worked out once.
    const ShadeTable shades = shade_table(buffer, settings.color);
    const float weekday_size = 18.0f * unit;
    const auto weekday_ink = ink_extent(font, scratch, texts.weekday, weekday_size);
    const float weekday_y = weekday_ink ? centred_y(*weekday_ink, 4.0f, 24.0f * unit) : 4.0f * unit;
    draw_text(buffer, font, scratch, texts.weekday, weekday_size, 0.0f, weekday_y, width,
              TextAlign::Center, shades);

    draw_separator(buffer, unit, 24.0f * unit, settings.dim_color);

    const float month_size = (settings.short_month ? 17.0f : 15.0f) * unit;
    const float day_size = 33.0f * unit;
    const float day_step = 15.0f * unit;
    const auto month_ink = ink_extent(font, scratch, texts.month, month_size);
    const auto day_ink = ink_extent(font, scratch, texts.day, day_size);
    const float block_top = 24.0f * unit + 1.0f;
    float month_y = 29.0f * unit;
    if (month_ink && day_ink)
        month_y = centred_y(InkExtent{month_ink->top, day_ink->bottom + day_step}, block_top,
                            88.0f * unit);
    draw_text(buffer, font, scratch, texts.month, month_size, 0.0f, month_y, width,
              TextAlign::Center, shades);
    draw_text(buffer, font, scratch, texts.day, day_size, 0.0f, month_y + day_step, width,
              TextAlign::Center, shades);

    draw_separator(buffer, unit, 88.0f * unit, settings.dim_color);

    draw_time_line(buffer, font, scratch, settings, shades, texts, unit);

    const bool zenburn =
        settings.theme && settings.theme->size() == 7 && is_zenburn(*settings.theme);
    draw_bevel(buffer, zenburn ? ZENBURN_BEVEL : DEFAULT_BEVEL);
}

} // namespace kd

// docs/config.example ships as documentation; it must stay the exact text that
// `kestrelDial --write-config` writes for the defaults, and must read back as the defaults.

#include "settings/config_file.hpp"
#include "settings/config_writer.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string example_config_text()
{
    const std::string path = std::string(KD_SOURCE_DIR) + "/docs/config.example";
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file.is_open()) << "cannot open " << path;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(ExampleConfig, IsWhatTheWriterWritesForTheDefaults)
{
    EXPECT_EQ(example_config_text(), kd::render_config(kd::Settings{}));
}

TEST(ExampleConfig, ReadsBackAsTheDefaults)
{
    const std::string text = example_config_text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(kd::settings_from_text(text), kd::Settings{});
}

} // namespace

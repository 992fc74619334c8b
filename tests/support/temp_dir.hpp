#pragma once
// A private directory that is removed with everything in it when the test ends.

#include <string>

namespace kd::test {

struct TempDir {
    std::string path;

    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    // path + "/" + name
    std::string file(const std::string& name) const;
};

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);

} // namespace kd::test

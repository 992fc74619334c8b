#pragma once
// A file descriptor that is closed on every path out, whoever owns it.

#include <unistd.h>

namespace kd {

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int value = -1) : fd(value) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd = other.fd;
            other.fd = -1;
        }
        return *this;
    }
    ~Descriptor() { reset(); }
    void reset()
    {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

} // namespace kd

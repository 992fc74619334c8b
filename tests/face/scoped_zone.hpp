#pragma once
// Sets TZ for one test and puts back what was there.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kd::test {

class ScopedZone {
  public:
    explicit ScopedZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedZone()
    {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

  private:
    std::optional<std::string> previous_;
};

} // namespace kd::test

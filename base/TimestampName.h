#pragma once
// The moment a photo was taken or a take began, as their file names carry
// it: "20261210 143501", in local time.

#include <ctime>
#include <string>

inline std::string TimestampName(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char name[32];
    std::strftime(name, sizeof name, "%Y%m%d %H%M%S", &local);
    return name;
}

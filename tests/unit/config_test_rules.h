// Builds filter rules for the configuration tests.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/FilterItem.h"

inline CFilterItem MakeRule(int32_t anyIp, int32_t anyPort, int32_t accept, std::array<uint8_t, 4> ip,
                            std::vector<uint16_t> ports, std::string name = "r") {
    CFilterItem item;
    item.name = std::move(name);
    item.anyIp = anyIp;
    item.anyPort = anyPort;
    item.accept = accept;
    std::copy(ip.begin(), ip.end(), item.ip);
    item.ports = std::move(ports);
    return item;
}

// "web": accept 192.168.0.1 on ports 80 and 8080.
inline CFilterItem WebRule() {
    return MakeRule(0, 0, 1, {192, 168, 0, 1}, {80, 8080}, "web");
}

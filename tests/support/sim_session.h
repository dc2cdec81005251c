#pragma once

// VISA sessions on a quarvel-sim process over each of its links, for the
// tests that talk to it through the VISA layer directly or through a driver;
// and what a search lists.

#include "tests/support/sim_process.h"
#include "visa/visa.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::test {

// The simulator's links: the LAN transports, and USBTMC through its USB/IP
// server.
enum class Lan { Socket, Vxi11, Hislip, Usb };

inline const char* LanName(Lan lan) {
    return std::array{"Socket", "Vxi11", "Hislip", "Usb"}[static_cast<std::size_t>(lan)];
}

inline std::string ResourceOn(const SimProcess& sim, Lan lan) {
    return lan == Lan::Vxi11    ? sim.Vxi11Resource()
           : lan == Lan::Hislip ? sim.HislipResource()
           : lan == Lan::Usb    ? sim.UsbResource()
                                : sim.SocketResource();
}

// Points a resource manager at the simulator's portmapper (for VXI-11) and
// its USB/IP server (for USB).
inline bool PointAtSim(ViSession rm, const SimProcess& sim) {
    const std::string server = sim.UsbipServer();
    return viSetAttribute(rm, QVI_ATTR_PORTMAPPER_PORT,
                          static_cast<ViAttrState>(sim.PortmapperPort())) == VI_SUCCESS &&
           viSetAttribute(rm, QVI_ATTR_USBIP_SERVERS,
                          reinterpret_cast<ViAttrState>(server.c_str())) == VI_SUCCESS;
}

// A resource manager pointed at the simulator whose sessions wait timeoutMs;
// VI_NULL when it cannot be had.
inline ViSession SimResourceManager(const SimProcess& sim, ViUInt32 timeoutMs = 2000) {
    ViSession rm = VI_NULL;
    if (viOpenDefaultRM(&rm) != VI_SUCCESS)
        return VI_NULL;
    if (!PointAtSim(rm, sim) || viSetAttribute(rm, VI_ATTR_TMO_VALUE, timeoutMs) != VI_SUCCESS) {
        viClose(rm);
        return VI_NULL;
    }
    return rm;
}

// The simulator's test block (:TEST:BLOCK?): byte i is
// (31 i + 7 (i >> 8) + 11) mod 256.
inline std::uint8_t TestByte(std::size_t i) {
    return static_cast<std::uint8_t>((i * 31u + (i >> 8) * 7u + 11u) & 0xFFu);
}

// The index of the first byte of `data` that is not the test block's, or n
// when all n are.
inline std::size_t FirstWrongTestByte(const std::vector<unsigned char>& data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (i >= data.size() || data[i] != TestByte(i))
            return i;
    return n;
}

// True when ":TEST:BLOCK? n" gave exactly the n bytes of the test block
// (read into `buffer`, which must hold them).
inline bool QueryTestBlock(ViSession vi, std::size_t n, std::vector<unsigned char>& buffer) {
    ViUInt32 count = static_cast<ViUInt32>(buffer.size());
    return viQueryf(vi, ":TEST:BLOCK? %u\n", "%#b\n", static_cast<unsigned>(n), &count,
                    buffer.data()) == VI_SUCCESS &&
           count == n && FirstWrongTestByte(buffer, n) == n;
}

// Every name viFindRsrc and viFindNext give for `expression`, checked
// against the count the search reported; empty when it found nothing.
inline std::vector<std::string> FindAll(ViSession rm, const char* expression) {
    std::vector<std::string> names;
    ViFindList list = VI_NULL;
    ViUInt32 count = 0;
    char name[VI_FIND_BUFLEN] = {};
    if (viFindRsrc(rm, expression, &list, &count, name) != VI_SUCCESS)
        return names;
    names.push_back(name);
    while (viFindNext(list, name) == VI_SUCCESS)
        names.push_back(name);
    viClose(list);
    EXPECT_EQ(names.size(), count) << expression;
    return names;
}

} // namespace quarvel::test

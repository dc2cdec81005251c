#pragma once

#include "visa/transport_memory.h"
#include "visa/visa.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace quarvel::test {

// A VISA session to a scripted in-memory device (replies queued by the test,
// messages recorded), for one driver or exchange at a time.
class ScriptedSession {
public:
    explicit ScriptedSession(const quarvel::visa::MemoryDeviceOptions& options = {}) {
        quarvel::visa::RegisterMemoryTransport();
        m_device = quarvel::visa::CreateMemoryDevice(NAME, options);
        viOpenDefaultRM(&m_rm);
        m_open = viOpen(m_rm, ("QVMEM::" + std::string(NAME) + "::INSTR").c_str(), VI_NULL, 0,
                        &m_session) == VI_SUCCESS;
    }
    ~ScriptedSession() {
        viClose(m_session);
        viClose(m_rm);
        quarvel::visa::RemoveMemoryDevice(NAME);
    }
    ScriptedSession(const ScriptedSession&) = delete;
    ScriptedSession& operator=(const ScriptedSession&) = delete;

    bool Open() const { return m_open; }
    ViSession Session() const { return m_session; }
    quarvel::visa::MemoryDevice& Device() { return *m_device; }
    // The messages the driver sent since the last call.
    std::vector<std::string> TakeSent() {
        const std::vector<std::string> all = m_device->Messages();
        std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(m_seen),
                                       all.end());
        m_seen = all.size();
        return fresh;
    }

private:
    static constexpr const char* NAME = "scripted";
    std::shared_ptr<quarvel::visa::MemoryDevice> m_device;
    ViSession m_rm = 0;
    ViSession m_session = 0;
    bool m_open = false;
    std::size_t m_seen = 0;
};

} // namespace quarvel::test

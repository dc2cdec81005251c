#include "visa/transport_memory.h"

#include "visa/resource_name.h"
#include "visa/transport_registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <thread>

namespace quarvel::visa {

void MemoryDevice::QueueReply(std::string bytes) {
    std::lock_guard lock(m_mutex);
    m_replies.push_back(std::move(bytes));
}

std::vector<std::string> MemoryDevice::Messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

std::string MemoryDevice::Unfinished() const {
    std::lock_guard lock(m_mutex);
    return m_unfinished;
}

std::size_t MemoryDevice::ClearCount() const {
    std::lock_guard lock(m_mutex);
    return m_clears;
}

ViStatus MemoryDevice::Write(const std::uint8_t* data, std::size_t size, bool end) {
    std::lock_guard lock(m_mutex);
    m_unfinished.append(reinterpret_cast<const char*>(data), size);
    if (end) {
        m_messages.push_back(std::move(m_unfinished));
        m_unfinished.clear();
    }
    return VI_SUCCESS;
}

ViStatus MemoryDevice::Read(std::uint8_t* data, std::size_t capacity, ReadMode mode,
                            ReadResult& result) {
    if (m_options.readDelay.count() > 0)
        std::this_thread::sleep_for(m_options.readDelay);
    std::lock_guard lock(m_mutex);
    result = {};
    // Empty replies carry only END.
    while (!m_replies.empty() && m_replies.front().empty() && !m_options.signalsEnd)
        m_replies.pop_front();
    if (m_replies.empty() && m_options.endlessFill != '\0') {
        result.count = std::min({capacity, m_options.pieceSize, std::size_t{4096}});
        std::memset(data, m_options.endlessFill, result.count);
        return VI_SUCCESS;
    }
    if (m_replies.empty())
        return m_options.dropWhenEmpty ? VI_ERROR_CONN_LOST : VI_ERROR_TMO;
    const std::string& reply = m_replies.front();
    std::size_t n = std::min({capacity, m_options.pieceSize, reply.size() - m_replyPos});
    if (!m_options.signalsEnd && mode == ReadMode::Message) {
        const void* lf = std::memchr(reply.data() + m_replyPos, '\n', n);
        if (lf != nullptr) {
            n = static_cast<std::size_t>(static_cast<const char*>(lf) -
                                         (reply.data() + m_replyPos)) +
                1;
            result.end = ReadEnd::TermChar;
        }
    }
    std::memcpy(data, reply.data() + m_replyPos, n);
    m_replyPos += n;
    result.count = n;
    if (m_replyPos == reply.size()) {
        if (m_options.signalsEnd)
            result.end = ReadEnd::End;
        m_replies.pop_front();
        m_replyPos = 0;
    }
    return VI_SUCCESS;
}

void MemoryDevice::Clear() {
    std::lock_guard lock(m_mutex);
    ++m_clears;
    m_replies.clear();
    m_replyPos = 0;
}

namespace {

struct Devices {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<MemoryDevice>> byName;
};

Devices& TheDevices() {
    static Devices devices;
    return devices;
}

class MemoryTransport final : public ITransport {
public:
    explicit MemoryTransport(std::shared_ptr<MemoryDevice> device) : m_device(std::move(device)) {}
    ViStatus Write(const std::uint8_t* data, std::size_t size, bool end,
                   const SessionSettings&) override {
        return m_device->Write(data, size, end);
    }
    ViStatus Read(std::uint8_t* data, std::size_t capacity, ReadMode mode, const SessionSettings&,
                  ReadResult& result) override {
        return m_device->Read(data, capacity, mode, result);
    }
    ViStatus Clear(const SessionSettings&) override {
        m_device->Clear();
        return VI_SUCCESS;
    }
    bool SignalsEnd() const override { return m_device->SignalsEnd(); }

private:
    std::shared_ptr<MemoryDevice> m_device;
};

bool InterpretMemoryFields(ResourceName& name) {
    name.host = name.fields[0];
    return true;
}

const ResourceForm kMemoryForm = {"QVMEM", 0, "INSTR", true, 1, 1, InterpretMemoryFields};

ViStatus OpenMemoryTransport(const ResourceName& name, const SessionSettings&,
                             std::unique_ptr<ITransport>& transport) {
    Devices& devices = TheDevices();
    std::lock_guard lock(devices.mutex);
    const auto it = devices.byName.find(name.host);
    if (it == devices.byName.end())
        return VI_ERROR_RSRC_NFOUND;
    transport = std::make_unique<MemoryTransport>(it->second);
    return VI_SUCCESS;
}

// The devices that exist, for viFindRsrc.
void ListMemoryDevices(const SessionSettings&, Deadline, std::vector<std::string>& found) {
    Devices& devices = TheDevices();
    std::lock_guard lock(devices.mutex);
    for (const auto& [name, device] : devices.byName)
        found.push_back("QVMEM0::" + name + "::INSTR");
}

} // namespace

void RegisterMemoryTransport() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterTransport({&kMemoryForm, OpenMemoryTransport, ListMemoryDevices});
    });
}

std::unique_ptr<ITransport> MakeMemoryTransport(std::shared_ptr<MemoryDevice> device) {
    return std::make_unique<MemoryTransport>(std::move(device));
}

std::shared_ptr<MemoryDevice> CreateMemoryDevice(const std::string& name,
                                                 const MemoryDeviceOptions& options) {
    auto device = std::make_shared<MemoryDevice>(options);
    Devices& devices = TheDevices();
    std::lock_guard lock(devices.mutex);
    devices.byName[name] = device;
    return device;
}

void RemoveMemoryDevice(const std::string& name) {
    Devices& devices = TheDevices();
    std::lock_guard lock(devices.mutex);
    devices.byName.erase(name);
}

} // namespace quarvel::visa

#include "tests/instr/sim_connection.h"

#include <algorithm>

namespace quarvel::test {

void SimRetrieval::Connect(const std::string& instrument, bool vxi11) {
    m_sim = std::make_unique<SimProcess>(std::vector<std::string>{"--instrument", instrument});
    ASSERT_TRUE(m_sim->Started()) << m_sim->Output();
    if (vxi11) {
        ASSERT_EQ(viSetAttribute(m_connection.GetResourceManager(), QVI_ATTR_PORTMAPPER_PORT,
                                 static_cast<ViAttrState>(m_sim->PortmapperPort())),
                  VI_SUCCESS);
    }
    ASSERT_TRUE(m_connection.Open(vxi11 ? m_sim->Vxi11Resource() : m_sim->SocketResource()));
    ASSERT_TRUE(m_connection.QueryIdn());
    ASSERT_TRUE(m_connection.CreateDriver());
    m_driver = m_connection.GetDriver();
    ASSERT_NE(m_driver, nullptr);
    ChannelList names;
    m_driver->GetChannelList(names);
}

void SimRetrieval::Send(const std::string& command) {
    ASSERT_EQ(viPrintf(m_connection.GetSession(), "%s\n", command.c_str()), VI_SUCCESS);
}

std::vector<std::string> SimRetrieval::Received() const {
    ViInt32 done = 0;
    EXPECT_EQ(viQueryf(m_connection.GetSession(), "*OPC?\n", "%d", &done), VI_SUCCESS);
    EXPECT_EQ(done, 1);
    std::vector<std::string> lines = m_sim->Transcript();
    lines.erase(std::remove(lines.begin(), lines.end(), "*OPC?"), lines.end());
    return lines;
}

std::size_t SimRetrieval::Mark() const {
    return Received().size();
}

std::vector<std::string> SimRetrieval::SentSince(std::size_t mark) const {
    const std::vector<std::string> all = Received();
    if (mark >= all.size())
        return {};
    return {all.begin() + static_cast<std::ptrdiff_t>(mark), all.end()};
}

} // namespace quarvel::test

#include "instr/instr_ll.h"
#include "instr/retrieval_channels.h"
#include "wavedata/waveform_record.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

WaveformRecord WithX(std::vector<double> x) {
    WaveformRecord r;
    r.x = std::move(x);
    r.y.assign(r.x.size(), 0.0);
    return r;
}

// Reports a fixed list of active channels and counts the questions.
class CActiveChannelsDriver : public CInstrLL {
public:
    explicit CActiveChannelsDriver(ChannelList active) : m_active(std::move(active)) {}
    void GetActiveChannels(ChannelList& out) override {
        ++m_calls;
        out = m_active;
    }
    int m_calls = 0;

private:
    ChannelList m_active;
};

} // namespace

TEST(WaveformRecord, NotANumberNeverSharesAnAxis) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(HasSameXAxis(WithX({nan, 1}), WithX({nan, 1})));
    EXPECT_FALSE(ShareXAxis({WithX({nan, 1}), WithX({nan, 1})}));
    // One record alone needs no comparison.
    EXPECT_TRUE(ShareXAxis({WithX({nan, 1})}));
}

// Adjacent removals: the index must not skip the name after an erased one.
TEST(KeepActiveChannels, KeepsSelectionOrderAndExactNames) {
    const struct {
        ChannelList active, selected, kept;
    } cases[] = {
        {{"POD1", "CHAN1"}, {"CHAN1", "CHAN3", "POD1"}, {"CHAN1", "POD1"}},
        {{"chan1", "pod1"}, {"CHAN1", "POD1"}, {}},
        {{}, {"CHAN1", "CHAN1", "CHAN2"}, {}},
        {{"CHAN4"}, {"CHAN1", "CHAN2", "CHAN3", "CHAN4"}, {"CHAN4"}},
    };
    for (const auto& c : cases) {
        CActiveChannelsDriver driver(c.active);
        ChannelList selected = c.selected;
        KeepActiveChannels(selected, driver);
        EXPECT_EQ(selected, c.kept);
        EXPECT_EQ(driver.m_calls, 1);
    }
}

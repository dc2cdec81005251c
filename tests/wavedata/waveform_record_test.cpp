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

TEST(KeepActiveChannels, KeepsSelectionOrderAndExactNames) {
    CActiveChannelsDriver driver({"POD1", "CHAN1"});
    ChannelList selected{"CHAN1", "CHAN3", "POD1"};
    KeepActiveChannels(selected, driver);
    EXPECT_EQ(selected, (ChannelList{"CHAN1", "POD1"}));
    EXPECT_EQ(driver.m_calls, 1);

    CActiveChannelsDriver lower({"chan1", "pod1"});
    selected = {"CHAN1", "POD1"};
    KeepActiveChannels(selected, lower);
    EXPECT_TRUE(selected.empty());

    CActiveChannelsDriver none({});
    selected = {"CHAN1", "CHAN1", "CHAN2"};
    KeepActiveChannels(selected, none);
    EXPECT_TRUE(selected.empty());

    // Adjacent removals: the index must not skip the name after an erased one.
    CActiveChannelsDriver last({"CHAN4"});
    selected = {"CHAN1", "CHAN2", "CHAN3", "CHAN4"};
    KeepActiveChannels(selected, last);
    EXPECT_EQ(selected, (ChannelList{"CHAN4"}));
}

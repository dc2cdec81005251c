#include "sim/family_rs_rtb.h"

#include "sim/waveform_rs.h"

#include <array>

namespace quarvel::sim {
namespace {

// Sources: RTB2000 / RTM3000 / RTA4000 user manuals, remote commands
// (HCOPy:FORMat, HCOPy:DATA?, RUN, STOP, SINGle, ACQuire:STATe?,
// SYSTem:DISPlay:UPDate); MXO 4 user manual (HCOPy:DEVice:LANGuage,
// RUNSingle); lxi-tools screenshot_rohde-schwarz-hmo-rtb.c (HCOP:FORM PNG,
// HCOP:DATA? as a definite block). The STOP word of ACQuire:STATe? and the
// frozen remote display's picture are unverified.
constexpr std::array kHabits = {
    HabitInfo{"display-update", "off|on", "off",
              "SYSTem:DISPlay:UPDate at power-on: off freezes the screen under remote control"},
    // R&S RsInstrument_RTA-Waveform_transfer_Screenshot.py reads REAL,32 data
    // after *RST as big-endian floats until it sends FORMat:BORDer LSBFirst.
    HabitInfo{"byte-order", "msb|lsb", "msb", "FORMat:BORDer at power-on"},
};

} // namespace

std::span<const HabitInfo> RsRtbHabits() {
    return kHabits;
}

RsRtbSim::RsRtbSim(const InstrumentSetup& setup)
    : SimInstrument(setup.idn), m_mxo(ModelStartsWith(ModelOf(setup.idn), "MXO")),
      m_powerOnDisplayUpdate(setup.habits.On("display-update")) {
    m_state.model = ModelOf(setup.idn);
    m_state.displayUpdate = m_powerOnDisplayUpdate;
    if (m_mxo) {
        m_width = 1920;
        m_height = 1080;
    }
    CommandTable& t = Commands();
    t.Add("RUN", [this](const CommandCall&, CommandResult&) { SetRun(RunState::Run); });
    t.Add("STOP", [this](const CommandCall&, CommandResult&) { SetRun(RunState::Stop); });
    t.Add("RUNSingle", [this](const CommandCall&, CommandResult&) { SetRun(RunState::Single); });
    if (!m_mxo) {
        t.Add("RUNContinous",
              [this](const CommandCall&, CommandResult&) { SetRun(RunState::Run); });
        t.Add("SINGle", [this](const CommandCall&, CommandResult&) { SetRun(RunState::Single); });
    }
    t.Add("ACQuire:STATe?", [this](const CommandCall&, CommandResult& r) {
        if (m_state.run == RunState::Single && m_state.stateReads++ > 0) {
            m_state.run = RunState::Stop;
            m_state.singleDone = true;
        }
        r.Text(m_state.run == RunState::Stop ? (m_state.singleDone ? "COMP" : "STOP") : "RUN");
    });
    AddBoolSetting(t, "SYSTem:DISPlay:UPDate", m_state.displayUpdate);
    if (m_mxo)
        AddChoiceSetting(t, "HCOPy:DEVice#:LANGuage", {"PNG", "JPG", "BMP", "TIFF", "PDF"},
                         m_state.format);
    else
        AddChoiceSetting(t, "HCOPy:FORMat", {"PNG", "BMP"}, m_state.format);

    t.Add("HCOPy:DATA?", [this](const CommandCall&, CommandResult& r) {
        const bool png = m_state.format == "PNG";
        if (!png && m_state.format != "BMP") {
            r.Error(-221, "Settings conflict");
            return;
        }
        const bool frozen = !m_state.displayUpdate;
        const char* status = frozen ? "REMOTE" : m_state.run == RunState::Stop ? "STOP" : "RUN";
        const std::string& image = m_images.Get(std::string(png ? "p" : "b") + status, [&] {
            ScreenScene scene;
            scene.width = m_width;
            scene.height = m_height;
            scene.title = "R&S " + m_state.model;
            scene.status = status;
            scene.traces = frozen ? 0 : 4;
            const QImage picture = RenderScreen(scene);
            return png ? EncodePng(picture) : EncodeBmp24(picture);
        });
        r.Block(image, 0, true, png ? "png" : "bmp");
    });
    AddRsWaveforms(*this, setup, m_mxo);
}

void RsRtbSim::SetRun(RunState run) {
    m_state.run = run;
    m_state.singleDone = false;
    m_state.stateReads = 0;
}

void RsRtbSim::ResetFamilyState() {
    const std::string model = m_state.model;
    m_state = RsRtbState();
    m_state.model = model;
    m_state.displayUpdate = m_powerOnDisplayUpdate;
}

std::unique_ptr<SimInstrument> CreateRsRtb(const InstrumentSetup& setup) {
    return std::make_unique<RsRtbSim>(setup);
}

} // namespace quarvel::sim

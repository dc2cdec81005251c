#include "sim/family_siglent_hd.h"

#include "sim/waveform_siglent_hd.h"

#include <array>

namespace quarvel::sim {
namespace {

// Sources: SDS800X HD / SDS2000X HD programming guides (:PRINt?,
// :TRIGger:RUN|STOP, :TRIGger:MODE, :TRIGger:STATus?); EEZ Studio issue 86
// (SDS2000X Plus: PRIN PNG answers the bare PNG file); SCPI-Instrument-Control
// pull request 74 (SDS824X HD: SCDP answers the bare BMP, then one
// terminator byte to drain). The byte after the PNG is taken to be the same
// line feed (unverified).
// word-count: scopehal's SiglentSCPIOscilloscope ("size workaround"): the
// SDS2000X HD from firmware 1.2 and the SDS2000X Plus up to 1.3.9R6 put the
// point count, not the byte count, into the header of a WORD data block;
// the SDS800X HD (the default model here) counts bytes.
constexpr std::array kHabits = {
    HabitInfo{"file-tail", "1|0", "1",
              "1: a line feed after the bare PNG (:PRINt?) or BMP (SCDP) file; 0: nothing"},
    HabitInfo{"word-count", "bytes|points", "bytes",
              "what the header of a WORD :WAVeform:DATA? block counts (points: SDS2000X HD "
              "firmware 1.2 and later)"},
};

} // namespace

std::span<const HabitInfo> SiglentHdHabits() {
    return kHabits;
}

SiglentHdSim::SiglentHdSim(const InstrumentSetup& setup)
    : SimInstrument(setup.idn), m_fileTail(setup.habits.Number("file-tail", 1) == 1) {
    m_state.model = ModelOf(setup.idn);
    CommandTable& t = Commands();
    t.Add(":TRIGger:RUN", [this](const CommandCall&, CommandResult&) {
        SetRun(m_state.mode == "SINGLE" ? RunState::Single : RunState::Run);
    });
    t.Add(":TRIGger:STOP", [this](const CommandCall&, CommandResult&) { SetRun(RunState::Stop); });
    t.Add(":TRIGger:MODE", [this](const CommandCall& call, CommandResult& r) {
        static constexpr const char* kModes[] = {"AUTO", "NORMAL", "SINGLE", "FTRIG"};
        const int mode = call.params.size() == 1
                             ? MatchChoice(call.params[0], {"AUTO", "NORMal", "SINGle", "FTRIG"})
                             : -1;
        if (mode < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        m_state.mode = kModes[mode];
        // Choosing a mode starts the acquisition in it, as its front-panel
        // key does; SINGle arms one acquisition.
        SetRun(mode == 2 ? RunState::Single : RunState::Run);
    });
    t.Add(":TRIGger:MODE?", [this](const CommandCall&, CommandResult& r) {
        r.Text(m_state.mode == "NORMAL"   ? "NORMal"
               : m_state.mode == "SINGLE" ? "SINGle"
                                          : m_state.mode);
    });
    AddChoiceSetting(t, ":ACQuire:MODE", {"YT", "XY", "ROLL"}, m_state.acquireMode);
    t.Add(":TRIGger:STATus?",
          [this](const CommandCall&, CommandResult& r) { r.Text(NextTriggerStatus()); });

    const auto image = [this](bool png) {
        const char* status = m_state.run == RunState::Stop ? "STOP" : "RUN";
        return m_images.Get(std::string(png ? "p" : "b") + status, [&] {
            ScreenScene scene;
            scene.width = kWidth;
            scene.height = kHeight;
            scene.title = "SIGLENT " + m_state.model;
            scene.status = status;
            scene.traces = 4;
            const QImage picture = RenderScreen(scene);
            return png ? EncodePng(picture) : EncodeBmp24(picture);
        });
    };
    // :PRINt? BMP|PNG; the set form ":PRINt PNG" answers the same (EEZ
    // Studio issue 86 reads after a write).
    const auto print = [this, image](const CommandCall& call, CommandResult& r) {
        const int format =
            call.params.size() == 1 ? MatchChoice(call.params[0], {"BMP", "PNG"}) : -1;
        if (format < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        r.Raw(image(format == 1), format == 1 ? "png" : "bmp");
        SetRawFileTail(r, m_fileTail);
    };
    t.Add(":PRINt?", print);
    t.Add(":PRINt", print);
    const auto screenDump = [this, image](const CommandCall&, CommandResult& r) {
        r.Raw(image(false), "bmp");
        SetRawFileTail(r, m_fileTail);
    };
    t.Add("SCDP", screenDump);
    t.Add("SCDP?", screenDump);
    AddSiglentHdWaveforms(*this, setup);
}

void SiglentHdSim::ResetFamilyState() {
    const std::string model = m_state.model;
    m_state = SiglentHdState();
    m_state.model = model;
}

void SiglentHdSim::SetRun(RunState run) {
    m_state.run = run;
    m_state.statusReads = 0;
}

const char* SiglentHdSim::NextTriggerStatus() {
    const int reading = m_state.statusReads++;
    switch (m_state.run) {
    case RunState::Stop:
        return "Stop";
    case RunState::Single:
        if (reading == 0)
            return "Arm";
        SetRun(RunState::Stop);
        return "Trig'd";
    case RunState::Run:
        if (m_state.acquireMode == "ROLL")
            return "Roll";
        if (m_state.mode == "NORMAL")
            return reading % 2 == 0 ? "Ready" : "Trig'd";
        return "Auto";
    }
    return "";
}

std::unique_ptr<SimInstrument> CreateSiglentHd(const InstrumentSetup& setup) {
    return std::make_unique<SiglentHdSim>(setup);
}

} // namespace quarvel::sim

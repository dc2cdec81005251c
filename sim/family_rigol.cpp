#include "sim/family_rigol.h"
#include "sim/waveform_rigol.h"

namespace quarvel::sim {
namespace {

// :TRIGger:STATus? words.
const char* TriggerStatus(RunState run) {
    switch (run) {
    case RunState::Run:
        return "TD";
    case RunState::Stop:
        return "STOP";
    case RunState::Single:
        return "WAIT";
    }
    return "";
}

} // namespace

RigolSim::RigolSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    m_state.model = ModelOf(setup.idn);
    m_state.blockTail = setup.quirks.rigolBlockTail;
    CommandTable& t = Commands();
    AddRunStopSingle(t, m_state.run);
    t.Add(":TRIGger:STATus?",
          [this](const CommandCall&, CommandResult& r) { r.Text(TriggerStatus(m_state.run)); });

    // :DISPlay:DATA? [ON|OFF[,OFF|ON[,BMP24|BMP8|PNG]]]: colour, invert, format.
    t.Add(":DISPlay:DATA?", [this](const CommandCall& call, CommandResult& r) {
        bool colour = true;
        bool invert = false;
        int format = 0;
        for (std::size_t i = 0; i < call.params.size(); ++i) {
            const int choice = i < 2 ? MatchChoice(call.params[i], {"ON", "OFF", "1", "0"})
                                     : MatchChoice(call.params[i], {"BMP24", "BMP8", "PNG"});
            if (i > 2 || choice < 0) {
                r.Error(-224, "Illegal parameter value");
                return;
            }
            if (i == 0)
                colour = choice == 0 || choice == 2;
            else if (i == 1)
                invert = choice == 0 || choice == 2;
            else
                format = choice;
        }
        const char* runWord = m_state.run == RunState::Run ? "RUN" : "STOP";
        const std::string key =
            std::to_string(format) + runWord + (colour ? "c" : "g") + (invert ? "i" : "n");
        std::string image = m_images.Get(key, [&] {
            ScreenScene scene;
            scene.width = kWidth;
            scene.height = kHeight;
            scene.title = "RIGOL " + m_state.model;
            scene.status = runWord;
            scene.traces = 4;
            scene.grayscale = !colour;
            scene.inverted = invert;
            const QImage picture = RenderScreen(scene);
            return format == 2   ? EncodePng(picture)
                   : format == 1 ? EncodeBmp8Gray(picture)
                                 : EncodeBmp24(picture);
        });
        r.Block(std::move(image), 9, true, format == 2 ? "png" : "bmp");
        // Quirk: firmware versions differ in what follows the block: NULs
        // before the line feed, or nothing at all (not even on a raw socket).
        SetBlockTail(r, m_state.blockTail);
    });
    AddRigolWaveforms(*this, setup.quirks);
}

std::unique_ptr<SimInstrument> CreateRigol(const InstrumentSetup& setup) {
    return std::make_unique<RigolSim>(setup);
}

} // namespace quarvel::sim

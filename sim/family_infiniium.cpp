#include "sim/family_infiniium.h"
#include "sim/waveform_infiniium.h"

namespace quarvel::sim {
namespace {

// The :RSTate? words.
const char* StateWord(RunState run) {
    switch (run) {
    case RunState::Run:
        return "RUN";
    case RunState::Stop:
        return "STOP";
    case RunState::Single:
        return "SING";
    }
    return "";
}

} // namespace

InfiniiumSim::InfiniiumSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    m_state.model = ModelOf(setup.idn);
    CommandTable& t = Commands();
    AddRunStopSingle(t, m_state.run);
    t.Add(":RSTate?",
          [this](const CommandCall&, CommandResult& r) { r.Text(StateWord(m_state.run)); });

    // [:DISPlay:DATA? [PNG|BMP[,SCReen|GRATicule[,ON|OFF[,NORMal|INVert]]]]]
    t.Add(":DISPlay:DATA?", [this](const CommandCall& call, CommandResult& r) {
        bool png = true;
        bool invert = false;
        if (call.params.size() > 4) {
            r.Error(-108, "Parameter not allowed");
            return;
        }
        for (std::size_t i = 0; i < call.params.size(); ++i) {
            const std::string& p = call.params[i];
            int choice = -1;
            switch (i) {
            case 0:
                choice = MatchChoice(p, {"PNG", "BMP"});
                png = choice == 0;
                break;
            case 1:
                choice = MatchChoice(p, {"SCReen", "GRATicule"});
                break;
            case 2:
                choice = MatchChoice(p, {"ON", "OFF", "1", "0"});
                break;
            default:
                choice = MatchChoice(p, {"NORMal", "INVert"});
                invert = choice == 1;
                break;
            }
            if (choice < 0) {
                r.Error(-224, "Illegal parameter value");
                return;
            }
        }
        const std::string key =
            std::string(png ? "p" : "b") + StateWord(m_state.run) + (invert ? "i" : "n");
        const std::string& image = m_images.Get(key, [&] {
            ScreenScene scene;
            scene.width = 1024;
            scene.height = 768;
            scene.title = "KEYSIGHT Infiniium " + m_state.model;
            scene.status = StateWord(m_state.run);
            scene.traces = 4;
            scene.inverted = invert;
            const QImage picture = RenderScreen(scene);
            return png ? EncodePng(picture) : EncodeBmp24(picture);
        });
        r.Block(image, 0, true, png ? "png" : "bmp");
    });
    AddInfiniiumWaveforms(*this, setup.quirks);
}

std::unique_ptr<SimInstrument> CreateInfiniium(const InstrumentSetup& setup) {
    return std::make_unique<InfiniiumSim>(setup);
}

} // namespace quarvel::sim

#include "sim/family_infiniivision.h"
#include "sim/waveform_infiniivision.h"

#include <cctype>

namespace quarvel::sim {
namespace {

const char* RunWord(RunState run) {
    switch (run) {
    case RunState::Run:
        return "RUN";
    case RunState::Stop:
        return "STOP";
    case RunState::Single:
        return "SINGLE";
    }
    return "";
}

// A two-channel model ends in "2" and a letter (DSO-X 2002A, MSO7012B).
int ChannelsOf(const std::string& model) {
    if (model.size() >= 2 && model[model.size() - 2] == '2' &&
        std::isalpha(static_cast<unsigned char>(model.back())))
        return 2;
    return 4;
}

} // namespace

InfiniiVisionSim::InfiniiVisionSim(const InstrumentSetup& setup, bool xSeries)
    : SimInstrument(setup.idn) {
    m_state.xSeries = xSeries;
    m_state.model = ModelOf(setup.idn);
    m_state.channels = ChannelsOf(m_state.model);
    AddRunControl();
    AddScreenImage();
    AddInfiniiVisionWaveforms(*this);
}

void InfiniiVisionSim::ResetFamilyState() {
    m_state.run = RunState::Run;
    m_state.inkSaver = false;
}

void InfiniiVisionSim::AddRunControl() {
    CommandTable& t = Commands();
    // The simulated signal always triggers, so a single acquisition ends at
    // once: the Run bit is clear afterwards, as after a stop.
    AddRunStopSingle(t, m_state.run);
    t.Add(":OPERegister[:EVENt]?", [this](const CommandCall&, CommandResult& r) {
        r.Text(m_state.run == RunState::Run ? "+8" : "+0");
    });
    t.Add(":OPERegister:CONDition?", [this](const CommandCall&, CommandResult& r) {
        r.Text("+" + std::to_string(m_state.run == RunState::Run ? kOperRunBit : 0));
    });
    AddBoolSetting(t, ":HARDcopy:INKSaver", m_state.inkSaver);
}

void InfiniiVisionSim::AddScreenImage() {
    Commands().Add(":DISPlay:DATA?", [this](const CommandCall& call, CommandResult& r) {
        // X series: [PNG|BMP|BMP8bit][,COLor|GRAYscale]; older models add the
        // area: [format][,SCReen|GRATicule][,COLor|GRAYscale].
        enum { kPng, kBmp, kBmp8 };
        int format = kPng;
        bool gray = false;
        const std::size_t maxParams = m_state.xSeries ? 2 : 3;
        if (call.params.size() > maxParams) {
            r.Error(-108, "Parameter not allowed");
            return;
        }
        for (std::size_t i = 0; i < call.params.size(); ++i) {
            const std::string& p = call.params[i];
            const int f = MatchChoice(p, {"PNG", "BMP", "BMP8bit"});
            const int palette = MatchChoice(p, {"COLor", "GRAYscale"});
            const bool area = !m_state.xSeries && MatchChoice(p, {"SCReen", "GRATicule"}) >= 0;
            if (i == 0 && f >= 0)
                format = f;
            else if (palette >= 0)
                gray = palette == 1;
            else if (!area) {
                r.Error(-224, "Illegal parameter value");
                return;
            }
        }
        if (format == kBmp8)
            gray = true;
        const std::string key = std::to_string(format) + RunWord(m_state.run) + (gray ? "g" : "c") +
                                (m_state.inkSaver ? "i" : "n");
        const std::string& image = m_images.Get(key, [&] {
            ScreenScene scene;
            scene.width = m_state.xSeries ? 800 : 640;
            scene.height = 480;
            scene.title = (m_state.xSeries ? "KEYSIGHT " : "AGILENT ") + m_state.model;
            scene.status = RunWord(m_state.run);
            scene.traces = m_state.channels;
            scene.grayscale = gray;
            scene.inverted = m_state.inkSaver;
            const QImage picture = RenderScreen(scene);
            return format == kPng    ? EncodePng(picture)
                   : format == kBmp8 ? EncodeBmp8Gray(picture)
                                     : EncodeBmp24(picture);
        });
        r.Block(image, 8, true, format == kPng ? "png" : "bmp");
    });
}

std::unique_ptr<SimInstrument> CreateInfiniiVision(const InstrumentSetup& setup) {
    return std::make_unique<InfiniiVisionSim>(setup, false);
}

std::unique_ptr<SimInstrument> CreateInfiniiVisionX(const InstrumentSetup& setup) {
    return std::make_unique<InfiniiVisionSim>(setup, true);
}

} // namespace quarvel::sim

#include "sim/family_siglent.h"

namespace quarvel::sim {

SiglentSim::SiglentSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    m_state.model = ModelOf(setup.idn);
    m_state.rawScdp = setup.quirks.siglentRawScdp;
    if (setup.quirks.siglentReplyHeaders)
        m_state.replyHeaders = "SHORT";
    CommandTable& t = Commands();

    // Siglent's long forms contain '_' (TRIG_MODE), so each form is its own row.
    const auto setMode = [this](const CommandCall& call, CommandResult& r) {
        const int mode = call.params.size() == 1
                             ? MatchChoice(call.params[0], {"AUTO", "NORM", "SINGLE", "STOP"})
                             : -1;
        if (mode < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        static constexpr const char* kModes[] = {"AUTO", "NORM", "SINGLE", "STOP"};
        m_state.triggerMode = kModes[mode];
    };
    const auto queryMode = [this](const CommandCall&, CommandResult& r) {
        const std::string prefix = m_state.replyHeaders == "LONG"    ? "TRIG_MODE "
                                   : m_state.replyHeaders == "SHORT" ? "TRMD "
                                                                     : "";
        r.Text(prefix + m_state.triggerMode);
    };
    t.Add("TRMD", setMode);
    t.Add("TRIG_MODE", setMode);
    t.Add("TRMD?", queryMode);
    t.Add("TRIG_MODE?", queryMode);
    AddChoiceSetting(t, "CHDR", {"OFF", "SHORT", "LONG"}, m_state.replyHeaders);
    AddChoiceSetting(t, "COMM_HEADER", {"OFF", "SHORT", "LONG"}, m_state.replyHeaders);

    const auto screenDump = [this](const CommandCall&, CommandResult& r) {
        const bool running = m_state.triggerMode == "AUTO" || m_state.triggerMode == "NORM";
        const std::string& image = m_images.Get(m_state.triggerMode, [&] {
            ScreenScene scene;
            scene.width = kWidth;
            scene.height = kHeight;
            scene.title = "SIGLENT " + m_state.model;
            scene.status = running ? m_state.triggerMode : "STOP";
            scene.traces = 4;
            return EncodeBmp24(RenderScreen(scene));
        });
        if (m_state.rawScdp)
            r.Raw(image, "bmp");
        else
            r.Block(image, 9, true, "bmp");
    };
    t.Add("SCDP", screenDump);
    t.Add("SCDP?", screenDump);
}

std::unique_ptr<SimInstrument> CreateSiglent(const InstrumentSetup& setup) {
    return std::make_unique<SiglentSim>(setup);
}

} // namespace quarvel::sim

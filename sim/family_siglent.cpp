#include "sim/family_siglent.h"
#include "sim/waveform_siglent.h"

namespace quarvel::sim {

namespace {

// COMM_HEADER LONG names of their own for these short headers.
struct LongName {
    const char* shortForm;
    const char* longForm;
};
constexpr LongName kLongNames[] = {{"TRMD", "TRIG_MODE"}, {"CHDR", "COMM_HEADER"}};

} // namespace

SiglentSim::SiglentSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    m_state.model = ModelOf(setup.idn);
    m_state.idnHeader = setup.quirks.siglentIdnHeader;
    m_state.rawScdp = setup.quirks.siglentRawScdp;
    m_state.scdpTerminator = setup.quirks.siglentScdpTerminator;
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
        r.Text(m_state.triggerMode);
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
        if (!m_state.rawScdp) {
            r.Block(image, 9, true, "bmp");
            return;
        }
        // The bare file, exactly so on every transport: a raw socket gets no
        // line feed unless the firmware sends one.
        r.Raw(image, "bmp");
        r.reply.exact = true;
        if (m_state.scdpTerminator)
            r.reply.trailer = "\n";
    };
    t.Add("SCDP", screenDump);
    t.Add("SCDP?", screenDump);
    AddSiglentWaveforms(*this, setup.quirks);
}

std::string SiglentSim::ReplyHeader(const HeaderForms& forms) const {
    if (m_state.replyHeaders == "OFF" || (forms.shortForm == "*IDN" && !m_state.idnHeader))
        return {};
    const bool longForm = m_state.replyHeaders == "LONG";
    for (const LongName& name : kLongNames)
        if (forms.shortForm == name.shortForm || forms.shortForm == name.longForm)
            return longForm ? name.longForm : name.shortForm;
    return longForm ? forms.longForm : forms.shortForm;
}

std::unique_ptr<SimInstrument> CreateSiglent(const InstrumentSetup& setup) {
    return std::make_unique<SiglentSim>(setup);
}

} // namespace quarvel::sim

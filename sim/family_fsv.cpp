#include "sim/family_fsv.h"
#include "sim/waveform_fsv.h"

namespace quarvel::sim {

FsvSim::FsvSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    CommandTable& t = Commands();
    AddFsvTraces(*this);
    AddBoolSetting(t, ":SYSTem:DISPlay:UPDate", m_state.displayUpdate);
    AddStringSetting(t, ":MMEMory:NAME", m_state.fileName);
    AddStringSetting(t, ":HCOPy:DESTination#", m_state.destination);
    AddChoiceSetting(t, ":HCOPy:DEVice:LANGuage#", {"PNG", "BMP", "JPG", "WMF", "EWMF"},
                     m_state.language);
    AddBoolSetting(t, ":HCOPy:DEVice:COLor", m_state.colour);
    AddStringSetting(t, ":HCOPy:ITEM:WINDow:TEXT", m_state.windowText);
    AddBoolSetting(t, ":HCOPy:TDSTamp:STATe#", m_state.timeStamp);

    // Colour maps: 1 grey scale, 2 colours on white (ink saver), 3 grey on
    // white, 4 the screen colours.
    t.Add(":HCOPy:CMAP#:DEFault#", [this](const CommandCall& call, CommandResult& r) {
        const int map = call.suffixes.size() > 1 ? call.suffixes[1] : 1;
        if (map < 1 || map > 4) {
            r.Error(-114, "Header suffix out of range");
            return;
        }
        m_state.colourMap = map;
    });

    t.Add(":HCOPy[:IMMediate#]", [this](const CommandCall&, CommandResult& r) {
        if (!EqualsNoCase(m_state.destination, "MMEM") || m_state.fileName.empty()) {
            r.Error(-221, "Settings conflict");
            return;
        }
        if (m_state.language != "PNG" && m_state.language != "BMP") {
            r.Error(-221, "Settings conflict");
            return;
        }
        if (!m_state.massMemory.Store(m_state.fileName, RenderHardcopy()))
            r.Error(-257, "File name error");
    });
    AddMassMemoryReadAndDelete(t, m_state.massMemory);
    AddSimulatorFileList(t, m_state.massMemory);
    AddSweepControl(t, m_state.continuous);
}

void FsvSim::ResetFamilyState() {
    // *RST leaves the mass memory alone, as on the analyser.
    auto files = std::move(m_state.massMemory);
    m_state = FsvState();
    m_state.massMemory = std::move(files);
}

std::string FsvSim::RenderHardcopy() {
    const bool png = m_state.language == "PNG";
    const bool gray = !m_state.colour || m_state.colourMap == 1 || m_state.colourMap == 3;
    const bool inverted = m_state.colourMap == 2 || m_state.colourMap == 3;
    const std::string key = std::string(png ? "p" : "b") + (m_state.continuous ? "C" : "S") +
                            (gray ? "g" : "c") + (inverted ? "i" : "n") +
                            (m_state.timeStamp ? "t" : "-") + m_state.windowText;
    return m_images.Get(key, [&] {
        ScreenScene scene;
        scene.kind = ScreenScene::Kind::SpectrumAnalyzer;
        scene.width = kWidth;
        scene.height = kHeight;
        scene.title = "R&S " + ModelOf(Idn()) + "  Spectrum  Ref Level 0.00 dBm  Span 100 MHz";
        scene.status = m_state.continuous ? "CONT" : "SGL";
        scene.traces = m_state.traces;
        scene.grayscale = gray;
        scene.inverted = inverted;
        scene.footer = m_state.windowText;
        // A fixed time stamp keeps hardcopies reproducible.
        if (m_state.timeStamp)
            scene.footer += "   06.Dec.2026 12:00:00";
        const QImage picture = RenderScreen(scene);
        return png ? EncodePng(picture) : EncodeBmp24(picture);
    });
}

std::unique_ptr<SimInstrument> CreateFsv(const InstrumentSetup& setup) {
    return std::make_unique<FsvSim>(setup);
}

} // namespace quarvel::sim

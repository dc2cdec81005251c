#include "sim/family_keysight_xsa.h"
#include "visa/ascii.h"

namespace quarvel::sim {

// Source: X-Series signal analyser programmer's guide (MMEMory:STORe:SCReen,
// MMEMory:DATA?, MMEMory:DELete, INITiate:CONTinuous, INITiate:IMMediate);
// the file name's extension (.png, .bmp) picks the format.
KeysightXsaSim::KeysightXsaSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    m_state.model = ModelOf(setup.idn);
    CommandTable& t = Commands();
    AddSweepControl(t, m_state.continuous);
    t.Add(":MMEMory:STORe:SCReen", [this](const CommandCall& call, CommandResult& r) {
        const std::string path = call.Unquoted(0);
        const std::string extension =
            path.size() > 4
                ? quarvel::ascii::ToUpper(std::string_view(path).substr(path.size() - 4))
                : "";
        if (call.params.size() != 1 || call.params[0].size() < 2 ||
            (call.params[0].front() != '\'' && call.params[0].front() != '"')) {
            r.Error(-151, "Invalid string data");
            return;
        }
        if (extension != ".PNG" && extension != ".BMP") {
            r.Error(-257, "File name error");
            return;
        }
        const bool png = extension == ".PNG";
        const char* status = m_state.continuous ? "CONT" : "SINGLE";
        const std::string& image = m_images.Get(std::string(png ? "p" : "b") + status, [&] {
            ScreenScene scene;
            scene.kind = ScreenScene::Kind::SpectrumAnalyzer;
            scene.width = kWidth;
            scene.height = kHeight;
            scene.title = "KEYSIGHT " + m_state.model + "  Spectrum Analyzer  Swept SA";
            scene.status = status;
            scene.traces = 1;
            const QImage picture = RenderScreen(scene);
            return png ? EncodePng(picture) : EncodeBmp24(picture);
        });
        if (!m_state.disk.Store(path, image))
            r.Error(-257, "File name error");
    });
    AddMassMemoryReadAndDelete(t, m_state.disk);
    AddSimulatorFileList(t, m_state.disk);
}

void KeysightXsaSim::ResetFamilyState() {
    // *RST leaves the disk alone.
    m_state.continuous = true;
}

std::unique_ptr<SimInstrument> CreateKeysightXsa(const InstrumentSetup& setup) {
    return std::make_unique<KeysightXsaSim>(setup);
}

} // namespace quarvel::sim

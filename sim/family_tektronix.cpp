#include "sim/family_tektronix.h"
#include "sim/waveform_tektronix.h"

#include <QTransform>

namespace quarvel::sim {

TektronixSim::TektronixSim(const InstrumentSetup& setup) : SimInstrument(setup.idn) {
    m_state.model = ModelOf(setup.idn);
    m_state.headers = setup.quirks.tektronixHeaders;
    CommandTable& t = Commands();
    AddBoolSetting(t, "HEADer", m_state.headers);
    t.Add("ACQuire:STATE?",
          [this](const CommandCall&, CommandResult& r) { r.Text(m_state.acquiring ? "1" : "0"); });
    t.Add("ACQuire:STATE", [this](const CommandCall& call, CommandResult& r) {
        const int choice = call.params.size() == 1
                               ? MatchChoice(call.params[0], {"RUN", "ON", "1", "STOP", "OFF", "0"})
                               : -1;
        if (choice < 0)
            r.Error(-224, "Illegal parameter value");
        else
            m_state.acquiring = choice < 3;
    });
    TekWaveformSetup waveforms;
    if (setup.quirks.waveformPoints > 0)
        waveforms.recordPoints = setup.quirks.waveformPoints;
    waveforms.headers = [this] { return m_state.headers; };
    waveforms.noWaveformId = setup.quirks.tektronixNoWaveformId;
    waveforms.curveJunk = setup.quirks.tektronixCurveJunk;
    AddTektronixWaveforms(t, waveforms);
    AddChoiceSetting(t, "HARDCopy:FORMat", {"PNG", "BMP", "BMPColor", "TIFf"}, m_state.format);
    AddChoiceSetting(t, "HARDCopy:LAYout", {"PORTRait", "LANDscape"}, m_state.layout);
    AddChoiceSetting(t, "HARDCopy:PORT", {"ETHERnet", "GPIB", "RS232", "USB", "FILE"},
                     m_state.port);
    AddChoiceSetting(t, "HARDCopy:PALEtte", {"NORMal", "INKSaver", "BLACKWhite"}, m_state.palette);
    AddBoolSetting(t, "HARDCopy:INKSaver", m_state.inkSaver);

    t.Add("HARDCopy", [this](const CommandCall& call, CommandResult& r) {
        const int action = call.params.size() == 1
                               ? MatchChoice(call.params[0], {"STARt", "ABOrt", "CLEARSpool"})
                               : -1;
        if (action < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        if (action != 0)
            return;
        const bool png = m_state.format == "PNG";
        if (!png && m_state.format != "BMP" && m_state.format != "BMPCOLOR") {
            r.Error(-221, "Settings conflict");
            return;
        }
        const bool gray = m_state.palette == "BLACKWHITE" || m_state.format == "BMP";
        const bool landscape = m_state.layout == "LANDSCAPE";
        const std::string key = m_state.format + (m_state.acquiring ? "r" : "s") +
                                (gray ? "g" : "c") + (m_state.inkSaver ? "i" : "n") +
                                (landscape ? "l" : "p");
        const std::string& image = m_images.Get(key, [&] {
            ScreenScene scene;
            scene.width = kWidth;
            scene.height = kHeight;
            scene.title = "Tektronix " + m_state.model;
            scene.status = m_state.acquiring ? "RUN" : "STOP";
            scene.traces = 4;
            scene.grayscale = gray;
            scene.inverted = m_state.inkSaver;
            QImage picture = RenderScreen(scene);
            if (landscape)
                picture = picture.transformed(QTransform().rotate(90));
            return png ? EncodePng(picture) : EncodeBmp24(picture);
        });
        r.Raw(image, png ? "png" : "bmp");
    });
}

void TektronixSim::ResetFamilyState() {
    const std::string model = m_state.model;
    const bool headers = m_state.headers; // *RST leaves the header setting alone
    m_state = TektronixState();
    m_state.model = model;
    m_state.headers = headers;
}

std::string TektronixReplyHeader(bool headers, const HeaderForms& forms, bool verbose) {
    if (!headers || forms.longForm.starts_with('*'))
        return {};
    return ":" + (verbose ? forms.longForm : forms.shortForm);
}

std::string TektronixSim::ReplyHeader(const HeaderForms& forms) const {
    return TektronixReplyHeader(m_state.headers, forms);
}

std::unique_ptr<SimInstrument> CreateTektronix(const InstrumentSetup& setup) {
    return std::make_unique<TektronixSim>(setup);
}

} // namespace quarvel::sim

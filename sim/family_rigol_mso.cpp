#include "sim/family_rigol_mso.h"

#include "sim/waveform_rigol.h"
#include "visa/ascii.h"

#include <array>

namespace quarvel::sim {
namespace {

// Sources: MSO5000 and DHO800/900 programming guides (:DISPlay:DATA?,
// :TRIGger:STATus?, :SAVE:IMAGe:DATA? on the MSO8000); lxi-tools
// screenshot_rigol-2000.c strips one trailing line feed after the block.
constexpr std::array kMsoHabits = {
    HabitInfo{"block-tail", "0|1|3", "1",
              "bytes after the :DISPlay:DATA? block: none, 0A, or 00 00 0A"},
    HabitInfo{"png-as-bmp", "on|off", "on",
              "MSO5000/7000 answer the 1024x600 BMP even when PNG is asked"},
    HabitInfo{"td-persists", "on|off", "off",
              "off: TD is read once per trigger, then WAIT/RUN/AUTO again; on: TD stays"},
    // scopehal-apps issue 146 (Rigol's answer: send MODE and FORM every time).
    HabitInfo{"wav-settings-reset", "on|off", "on",
              "on: :WAV:MODE and :WAV:FORM fall back to NORMal and BYTE after each :WAV:DATA?"},
    // scopehal issue 358, pull requests 359 (*WAI) and 696 (header, no data).
    HabitInfo{"empty-data-after-trigger", "on|off", "on",
              "on: after :STOP, :SINGle or a TD reading, :WAV:DATA? answers an empty block "
              "until *OPC? or *WAI"},
};
constexpr std::array kDhoHabits = {
    HabitInfo{"block-tail", "0|1|3", "1", "bytes after each :DISPlay:DATA? and :WAV:DATA? block"},
    HabitInfo{"td-persists", "on|off", "off", "as for rigol-mso5000"},
    // scopehal RigolOscilloscope.cpp: "DHO models return page size instead
    // of memory depth when paginating".
    HabitInfo{"preamble-points", "window|depth", "window",
              "window: the preamble counts the :WAV:STARt..STOP window, not the memory"},
    // DHO1000/4000 programming guide (scopehal pull request 882): :WAV:XREF? is always 0.
    HabitInfo{"xref", "zero|middle", "zero",
              "zero: the preamble's x reference is 0; middle: the record's middle point"},
    // scopehal RigolOscilloscope.cpp: the DHO sometimes gives x increment 0.
    HabitInfo{"zero-xinc", "0|1|2|3|4", "0", "that channel's preamble gives x increment 0"},
};

} // namespace

std::span<const HabitInfo> RigolMso5000Habits() {
    return kMsoHabits;
}

std::span<const HabitInfo> RigolDhoHabits() {
    return kDhoHabits;
}

RigolMsoSim::RigolMsoSim(const InstrumentSetup& setup, Series series)
    : SimInstrument(setup.idn), m_series(series), m_blockTail(setup.habits.Number("block-tail", 1)),
      m_pngAsBmp(series == Series::Mso5000 && setup.habits.On("png-as-bmp")),
      m_tdPersists(setup.habits.On("td-persists")) {
    m_state.model = ModelOf(setup.idn);
    // The DHO4000 has a 10.1-inch 1280x800 screen; the others 1024x600.
    if (ModelStartsWith(m_state.model, "DHO4")) {
        m_width = 1280;
        m_height = 800;
    }
    CommandTable& t = Commands();
    t.Add(":RUN", [this](const CommandCall&, CommandResult&) {
        m_state.run = RunState::Run;
        m_state.statusReads = 0;
    });
    t.Add(":STOP", [this](const CommandCall&, CommandResult&) {
        m_state.run = RunState::Stop;
        m_state.statusReads = 0;
        Unsettle();
    });
    t.Add(":SINGle", [this](const CommandCall&, CommandResult&) {
        m_state.run = RunState::Single;
        m_state.statusReads = 0;
        Unsettle();
    });
    AddChoiceSetting(t, ":TRIGger:SWEep", {"AUTO", "NORMal", "SINGle"}, m_state.sweep);
    t.Add(":TRIGger:STATus?", [this](const CommandCall&, CommandResult& r) {
        const char* status = NextTriggerStatus();
        if (std::string_view(status) == "TD")
            Unsettle();
        r.Text(status);
    });

    // :DISPlay:DATA? [ON|OFF,[ON|OFF,]][BMP24|BMP8|PNG|JPEG|TIFF]: colour,
    // invert and format on the MSO5000; the DHO takes the format alone.
    t.Add(":DISPlay:DATA?", [this](const CommandCall& call, CommandResult& r) {
        bool png = false;
        for (const std::string& p : call.params) {
            const int format = MatchChoice(p, {"BMP24", "BMP8", "BMP", "PNG", "JPEG", "TIFF"});
            if (format < 0 && MatchChoice(p, {"ON", "OFF", "1", "0"}) < 0) {
                r.Error(-224, "Illegal parameter value");
                return;
            }
            png = format == 3;
        }
        if (m_pngAsBmp)
            png = false;
        r.Block(Picture(png), 9, true, png ? "png" : "bmp");
        SetBlockTail(r, m_blockTail);
    });
    t.Add(":SAVE:IMAGe:DATA?", [this](const CommandCall&, CommandResult& r) {
        if (m_series != Series::Mso5000 || !ModelStartsWith(m_state.model, "MSO8")) {
            r.Error(-113, "Undefined header");
            return;
        }
        r.Block(Picture(true), 9, true, "png");
    });
    AddWaveforms(setup);
}

void RigolMsoSim::AddWaveforms(const InstrumentSetup& setup) {
    RigolWaveSeries series;
    series.screenPoints = 1000;
    series.defaultPoints = 1000000;
    series.answersMemoryDepth = true;
    if (m_series == Series::Mso5000) {
        // MSO5000 guide, :WAVeform:DATA?: the memory is read in one block
        // (scopehal pull request 360 drops STARt/STOP for it).
        series.bytePage = 0;
        series.wordPage = 0;
        series.settingsResetAfterData = setup.habits.On("wav-settings-reset");
        m_emptyDataAfterTrigger = setup.habits.On("empty-data-after-trigger");
    } else {
        // The definition's page; what the firmware allows is unverified.
        series.bytePage = 250000;
        series.wordPage = 250000;
        series.twelveBitWords = true;
        series.preambleCountsWindow = setup.habits.Value("preamble-points") == "window";
        series.xReferenceInMiddle = setup.habits.Value("xref") == "middle";
        series.zeroXIncrementChannel = setup.habits.Number("zero-xinc", 0);
    }
    AddRigolWaveforms(Commands(), setup.quirks, series,
                      {.run = [this] { return m_state.run; },
                       .blockTail = [this] { return m_blockTail; },
                       .memorySettled = m_memorySettled});
}

ResponseMessage RigolMsoSim::Execute(std::string_view programMessage) {
    ResponseMessage response = SimInstrument::Execute(programMessage);
    // *OPC? and *WAI wait for the acquisition, after which the memory reads
    // whole. The common commands answer them, so they are seen here, once
    // the message has run (":STOP;*OPC?" ends settled; a *OPC? before a stop
    // in the same message counts as after it).
    const std::string upper = quarvel::ascii::ToUpper(programMessage);
    if (upper.find("*OPC") != std::string::npos || upper.find("*WAI") != std::string::npos)
        m_memorySettled->store(true);
    return response;
}

void RigolMsoSim::Unsettle() {
    if (m_emptyDataAfterTrigger)
        m_memorySettled->store(false);
}

void RigolMsoSim::ResetFamilyState() {
    const std::string model = m_state.model;
    m_state = RigolMsoState();
    m_state.model = model;
}

const char* RigolMsoSim::NextTriggerStatus() {
    const int reading = m_state.statusReads++;
    switch (m_state.run) {
    case RunState::Stop:
        return "STOP";
    case RunState::Single:
        if (reading == 0)
            return "WAIT";
        // Triggered: the single acquisition is over.
        m_state.run = RunState::Stop;
        m_state.statusReads = 0;
        return "TD";
    case RunState::Run:
        if (m_tdPersists)
            return "TD";
        if (m_state.sweep == "AUTO")
            return reading % 2 == 0 ? "AUTO" : "TD";
        static constexpr const char* kNormal[] = {"RUN", "TD", "WAIT"};
        return kNormal[reading % 3];
    }
    return "";
}

std::string RigolMsoSim::Picture(bool png) {
    const char* status = m_state.run == RunState::Stop ? "STOP" : "RUN";
    return m_images.Get(std::string(png ? "p" : "b") + status, [&] {
        ScreenScene scene;
        scene.width = m_width;
        scene.height = m_height;
        scene.title = "RIGOL " + m_state.model;
        scene.status = status;
        scene.traces = 4;
        const QImage picture = RenderScreen(scene);
        return png ? EncodePng(picture) : EncodeBmp24(picture);
    });
}

std::unique_ptr<SimInstrument> CreateRigolMso5000(const InstrumentSetup& setup) {
    return std::make_unique<RigolMsoSim>(setup, RigolMsoSim::Series::Mso5000);
}

std::unique_ptr<SimInstrument> CreateRigolDho(const InstrumentSetup& setup) {
    return std::make_unique<RigolMsoSim>(setup, RigolMsoSim::Series::Dho);
}

} // namespace quarvel::sim

#include "sim/family_tektronix_mso.h"
#include "sim/family_tektronix.h"
#include "sim/waveform_tektronix.h"
#include "visa/ascii.h"

#include <array>

namespace quarvel::sim {
namespace {

// Sources: MSO 4/5/6 Series programmer manual (SAVE:IMAGe, FILESystem:
// READFile/DELEte/DIR?/CWD, ACQuire:STATE/STOPAfter); Tektronix's own
// example 5_Series_MSO_HardCopy.py (tkzilla/Tek_Forum) and lxi-tools
// screenshot_tektronix-mso-5.c read the file raw after READFile and delete
// it; MDO3000 and MSO/DPO2000/4000 programmer manuals (SAVe:IMAGe:FILEFormat,
// :INKSaver, HARDCopy STARt); TBS1000/TDS2000 programmer manuals
// (HARDCopy:FORMat, HARDCopy:PORT, HARDCopy STARt). That nothing follows the
// raw file on a socket, and the hardcopy delay's length, are unverified.
constexpr HabitInfo kRawEnd{
    "raw-end", "none|lf", "none",
    "what follows a raw image file: nothing (a raw socket then has only the file's own "
    "structure to frame it), or a line feed"};
// Waveform habits. scopehal's TektronixOscilloscope reads and drops "garbage
// at the end of the message" after every CURVe? block of an MSO5/6 (what the
// bytes are is unverified: here NULs and text before the line feed); the
// preamble's field count varies, WFId missing on some firmware (scopehal's
// positional WFMO? reading, the TDS and MDO manuals' field lists).
constexpr HabitInfo kCurveJunkOn{"curve-junk", "on|off", "on",
                                 "bytes after the CURVe? block, before its line feed"};
constexpr HabitInfo kCurveJunkOff{"curve-junk", "on|off", "off",
                                  "bytes after the CURVe? block, before its line feed"};
constexpr HabitInfo kWaveformId{"wfid", "on|off", "on",
                                "whether the waveform preamble carries its WFId field"};
constexpr std::array kMsoHabits = {kRawEnd, kCurveJunkOn, kWaveformId};
constexpr std::array kMdoHabits = {kRawEnd, kCurveJunkOff, kWaveformId};
constexpr std::array kTbsHabits = {
    kRawEnd,
    HabitInfo{"hardcopy-delay-ms", "MS", "3000",
              "time between HARDCopy STARt and the BMP's first byte"},
    kCurveJunkOff,
    kWaveformId,
};

bool ParseQuotedPath(const CommandCall& call, CommandResult& r, std::string& path) {
    if (call.params.size() != 1) {
        r.Error(call.params.empty() ? -109 : -108,
                call.params.empty() ? "Missing parameter" : "Parameter not allowed");
        return false;
    }
    const std::string& p = call.params[0];
    if (p.size() < 3 || (p.front() != '"' && p.front() != '\'') || p.back() != p.front()) {
        r.Error(-151, "Invalid string data");
        return false;
    }
    path = call.Unquoted(0);
    return true;
}

// Tektronix numbers its models with the channel count last in the first
// number: MSO58LP 8, MSO46 6, MDO3104 4, TBS1052B 2.
int AnalogChannelsOf(std::string_view model) {
    std::size_t i = model.find_first_of("0123456789");
    if (i == std::string_view::npos)
        return 4;
    while (i + 1 < model.size() && model[i + 1] >= '0' && model[i + 1] <= '9')
        ++i;
    const int count = model[i] - '0';
    return count == 2 || count == 4 || count == 6 || count == 8 ? count : 4;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           quarvel::ascii::EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

} // namespace

std::span<const HabitInfo> TektronixMsoHabits() {
    return kMsoHabits;
}
std::span<const HabitInfo> TektronixMdoHabits() {
    return kMdoHabits;
}
std::span<const HabitInfo> TektronixTbsHabits() {
    return kTbsHabits;
}

TektronixMsoSim::TektronixMsoSim(const InstrumentSetup& setup, Series series)
    : SimInstrument(setup.idn), m_series(series),
      m_rawLineFeed(setup.habits.Value("raw-end") == "lf"),
      m_hardcopyDelayMs(setup.habits.Number("hardcopy-delay-ms", 0)) {
    m_state.model = ModelOf(setup.idn);
    m_analogChannels = AnalogChannelsOf(m_state.model);
    // Screen sizes by series and model (data sheets); the first match wins,
    // 1920x1080 (4/5/6 Series MSO) otherwise. "MSO2" is the 10.1-inch MSO 2
    // Series (MSO24) among the tek-mso models but the small screen of the
    // MSO2000B (MSO2024B) among the tek-mdo ones; likewise "MSO4".
    struct Size {
        Series series;
        const char* prefix;
        int width;
        int height;
    };
    static constexpr Size kSizes[] = {
        {Series::Mso, "MSO2", 1280, 800}, {Series::Mdo, "MDO3", 800, 480},
        {Series::Mdo, "MSO2", 480, 234},  {Series::Mdo, "DPO2", 480, 234},
        {Series::Mdo, "", 1024, 768},     {Series::Tbs, "TBS2", 800, 480},
        {Series::Tbs, "", 320, 240},
    };
    for (const Size& size : kSizes) {
        if (size.series == series && ModelStartsWith(m_state.model, size.prefix)) {
            m_width = size.width;
            m_height = size.height;
            break;
        }
    }
    AddBoolSetting(Commands(), "HEADer", m_state.headers);
    AddBoolSetting(Commands(), "VERBose", m_state.verbose);
    AddAcquisition();
    AddWaveforms(setup);
    if (series != Series::Tbs)
        AddDisk();
    if (series != Series::Mso)
        AddHardcopy();
}

void TektronixMsoSim::AddAcquisition() {
    CommandTable& t = Commands();
    t.Add("ACQuire:STATE", [this](const CommandCall& call, CommandResult& r) {
        const int choice = call.params.size() == 1
                               ? MatchChoice(call.params[0], {"RUN", "ON", "1", "STOP", "OFF", "0"})
                               : -1;
        if (choice < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        m_state.acquiring = choice < 3;
        m_state.stateReads = 0;
    });
    t.Add("ACQuire:STATE?", [this](const CommandCall&, CommandResult& r) {
        // A sequence ends with its first acquisition, seen after one reading.
        if (m_state.acquiring && m_state.stopAfter == "SEQUENCE" && m_state.stateReads++ > 0)
            m_state.acquiring = false;
        r.Text(m_state.acquiring ? "1" : "0");
    });
    t.Add("ACQuire:STOPAfter", [this](const CommandCall& call, CommandResult& r) {
        const int choice =
            call.params.size() == 1 ? MatchChoice(call.params[0], {"RUNSTop", "SEQuence"}) : -1;
        if (choice < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        m_state.stopAfter = choice == 0 ? "RUNSTOP" : "SEQUENCE";
    });
    t.Add("ACQuire:STOPAfter?",
          [this](const CommandCall&, CommandResult& r) { r.Text(m_state.stopAfter); });
}

void TektronixMsoSim::AddDisk() {
    CommandTable& t = Commands();
    AddChoiceSetting(t, "SAVe:IMAGe:COMPosition", {"NORMal", "INVErted"}, m_state.composition);
    t.Add("SAVe:IMAGe", [this](const CommandCall& call, CommandResult& r) {
        std::string path;
        if (!ParseQuotedPath(call, r, path))
            return;
        const bool bmp = EndsWithNoCase(path, ".bmp");
        if (!bmp && !EndsWithNoCase(path, ".png")) {
            r.Error(-257, "File name error");
            return;
        }
        const bool inverted = m_state.composition == "INVERTED" || m_state.inkSaver;
        if (!m_state.disk.Store(path, Picture(!bmp, inverted)))
            r.Error(-257, "File name error");
    });
    t.Add("FILESystem:READFile", [this](const CommandCall& call, CommandResult& r) {
        std::string path;
        if (!ParseQuotedPath(call, r, path))
            return;
        const std::string* file = m_state.disk.Find(path);
        if (file == nullptr) {
            r.Error(-256, "File name not found");
            return;
        }
        r.Raw(*file, ImageExtensionOf(*file));
        SetRawFileTail(r, m_rawLineFeed);
    });
    t.Add("FILESystem:DELEte", [this](const CommandCall& call, CommandResult& r) {
        std::string path;
        if (ParseQuotedPath(call, r, path) && !m_state.disk.Erase(path))
            r.Error(-256, "File name not found");
    });
    t.Add("FILESystem:CWD", [this](const CommandCall& call, CommandResult& r) {
        std::string path;
        if (ParseQuotedPath(call, r, path))
            m_state.directory = InstrumentFiles::Normalise(path);
    });
    t.Add("FILESystem:CWD?", [this](const CommandCall&, CommandResult& r) {
        r.Text("\"" + m_state.directory + "\"");
    });
    t.Add("FILESystem:DIR?", [this](const CommandCall&, CommandResult& r) {
        std::string list;
        for (const std::string& name : m_state.disk.NamesIn(m_state.directory))
            list += (list.empty() ? "\"" : ",\"") + name + "\"";
        r.Text(list);
    });
    AddSimulatorFileList(t, m_state.disk);
}

void TektronixMsoSim::AddHardcopy() {
    CommandTable& t = Commands();
    if (m_series == Series::Mdo) {
        AddChoiceSetting(t, "SAVe:IMAGe:FILEFormat", {"PNG", "BMP", "TIFf"}, m_state.fileFormat);
        AddBoolSetting(t, "SAVe:IMAGe:INKSaver", m_state.inkSaver);
    } else {
        AddChoiceSetting(t, "HARDCopy:FORMat",
                         {"BMP", "PNG", "EPSImage", "JPEG", "PCX", "RLE", "TIFF"},
                         m_state.hardcopyFormat);
        AddChoiceSetting(t, "HARDCopy:PORT", {"USB", "CENtronics", "RS232", "GPIB"}, m_state.port);
    }
    t.Add("HARDCopy", [this](const CommandCall& call, CommandResult& r) {
        const int action =
            call.params.size() == 1 ? MatchChoice(call.params[0], {"STARt", "ABOrt"}) : -1;
        if (action < 0) {
            r.Error(-224, "Illegal parameter value");
            return;
        }
        if (action != 0)
            return;
        const std::string& format =
            m_series == Series::Mdo ? m_state.fileFormat : m_state.hardcopyFormat;
        // Only PNG and BMP are drawn; a TBS prints to the host on its USB port only.
        const bool png = format == "PNG";
        if ((!png && format != "BMP") || (m_series == Series::Tbs && m_state.port != "USB")) {
            r.Error(-221, "Settings conflict");
            return;
        }
        r.Raw(Picture(png, m_state.inkSaver), png ? "png" : "bmp");
        SetRawFileTail(r, m_rawLineFeed);
        r.reply.delayMs = m_hardcopyDelayMs;
    });
}

void TektronixMsoSim::AddWaveforms(const InstrumentSetup& setup) {
    TekWaveformSetup w;
    w.headers = [this] { return m_state.headers; };
    w.verbose = [this] { return m_state.verbose; };
    w.noWaveformId = !setup.habits.On("wfid");
    w.curveJunk = setup.habits.On("curve-junk");
    if (setup.quirks.waveformPoints > 0)
        w.recordPoints = setup.quirks.waveformPoints;
    switch (m_series) {
    case Series::Mso:
        // 4/5/6 Series MSO programmer manual: up to eight channels by model,
        // 12-bit samples, MATH<x> as 32-bit floats, DISplay:GLObal states.
        w.preamble = TekWaveformSetup::Preamble::WfmOutpreSeries;
        w.analogChannels = m_analogChannels;
        w.mathName = "MATH1";
        w.floatMath = true;
        w.references = 1;
        w.displayGlobal = true;
        w.recordLengthQuery = true;
        w.sampleBits = 16;
        break;
    case Series::Mdo:
        // MDO3000 and MSO/DPO4000B programmer manuals: signed integers for
        // CH1-CH4, MATH and REF1-REF4; SELect states.
        w.preamble = TekWaveformSetup::Preamble::WfmOutpre;
        w.analogChannels = m_analogChannels;
        w.mathName = "MATH";
        w.references = 4;
        w.recordLengthQuery = true;
        break;
    case Series::Tbs:
        // TDS1000/2000 and TBS1000 programmer manual: 2 500 points, DATa:STOP
        // 1 to 2 500, one byte a point.
        w.analogChannels = m_analogChannels;
        w.recordPoints = 2500;
        w.maxStop = 2500;
        break;
    }
    AddTektronixWaveforms(Commands(), w);
}

std::string TektronixMsoSim::Picture(bool png, bool inverted) {
    const char* status = !m_state.acquiring                ? "STOP"
                         : m_state.stopAfter == "SEQUENCE" ? "SINGLE"
                                                           : "RUN";
    return m_images.Get(std::string(png ? "p" : "b") + (inverted ? "i" : "n") + status, [&] {
        ScreenScene scene;
        scene.width = m_width;
        scene.height = m_height;
        scene.title = "Tektronix " + m_state.model;
        scene.status = status;
        scene.traces = m_analogChannels;
        scene.inverted = inverted;
        const QImage picture = RenderScreen(scene);
        return png ? EncodePng(picture) : EncodeBmp24(picture);
    });
}

void TektronixMsoSim::ResetFamilyState() {
    // *RST leaves the disk and the header setting alone.
    TektronixMsoState fresh;
    fresh.model = m_state.model;
    fresh.headers = m_state.headers;
    fresh.verbose = m_state.verbose;
    fresh.disk = std::move(m_state.disk);
    m_state = std::move(fresh);
}

std::string TektronixMsoSim::ReplyHeader(const HeaderForms& forms) const {
    return TektronixReplyHeader(m_state.headers, forms, m_state.verbose);
}

std::unique_ptr<SimInstrument> CreateTektronixMso(const InstrumentSetup& setup) {
    return std::make_unique<TektronixMsoSim>(setup, TektronixMsoSim::Series::Mso);
}

std::unique_ptr<SimInstrument> CreateTektronixMdo(const InstrumentSetup& setup) {
    return std::make_unique<TektronixMsoSim>(setup, TektronixMsoSim::Series::Mdo);
}

std::unique_ptr<SimInstrument> CreateTektronixTbs(const InstrumentSetup& setup) {
    return std::make_unique<TektronixMsoSim>(setup, TektronixMsoSim::Series::Tbs);
}

} // namespace quarvel::sim

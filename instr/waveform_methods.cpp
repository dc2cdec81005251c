// The table of waveform methods. Each method lives in a source file of its
// own, which defines its accessor; the accessor is declared and listed here
// once.

#include "instr/waveform_method.h"

namespace quarvel::instr {

// One accessor per method, each in its own instr/waveform_<protocol>.cpp.
const WaveformMethod& RigolMso5000WaveformMethod();
const WaveformMethod& RigolDhoWaveformMethod();
// Siglent SDS HD / X Plus: the WAVEDESC descriptor and MAXPoint pages
// (instr/waveform_siglent_hd.cpp).
const WaveformMethod& SiglentWaveDescWaveformMethod();
// instr/waveform_tek_curve.cpp
const WaveformMethod& TektronixWfmOutpreGlobalWaveformMethod();
const WaveformMethod& TektronixWfmOutpreSelectWaveformMethod();
const WaveformMethod& TektronixWfmPreWaveformMethod();
const WaveformMethod& RsChannelDataWaveformMethod(); // waveform_rs.cpp

namespace {

const std::vector<const WaveformMethod*>& Methods() {
    static const std::vector<const WaveformMethod*> methods = {
        &RigolMso5000WaveformMethod(),
        &RigolDhoWaveformMethod(),
        &SiglentWaveDescWaveformMethod(),
        &TektronixWfmOutpreGlobalWaveformMethod(),
        &TektronixWfmOutpreSelectWaveformMethod(),
        &TektronixWfmPreWaveformMethod(),
        &RsChannelDataWaveformMethod(),
    };
    return methods;
}

} // namespace

const WaveformMethod* FindWaveformMethod(std::string_view name) {
    for (const WaveformMethod* method : Methods())
        if (method->name == name)
            return method;
    return nullptr;
}

std::vector<std::string_view> WaveformMethodNames() {
    std::vector<std::string_view> names;
    for (const WaveformMethod* method : Methods())
        names.push_back(method->name);
    return names;
}

} // namespace quarvel::instr

// The table of waveform methods. Each method lives in a source file of its
// own, which defines its accessor; the accessor is declared and listed here
// once.

#include "instr/waveform_method.h"

namespace quarvel::instr {

const WaveformMethod& RsChannelDataWaveformMethod(); // waveform_rs.cpp

namespace {

const std::vector<const WaveformMethod*>& Methods() {
    static const std::vector<const WaveformMethod*> methods = {
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

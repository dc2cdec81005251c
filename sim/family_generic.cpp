#include "sim/family_generic.h"

#include <charconv>

namespace quarvel::sim {

std::string TestBlockData(std::size_t length) {
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        data[i] = static_cast<char>(TestBlockByte(i));
    return data;
}

std::unique_ptr<SimInstrument> CreateGeneric(const InstrumentSetup& setup) {
    auto instrument = std::make_unique<SimInstrument>(setup.idn);
    instrument->Commands().Add(":TEST:BLOCK?", [](const CommandCall& call, CommandResult& r) {
        std::size_t length = 0;
        const std::string& p = call.params.empty() ? std::string() : call.params[0];
        const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), length);
        const bool indefinite =
            call.params.size() == 2 && MatchChoice(call.params[1], {"INDefinite"}) == 0;
        if (call.params.empty() || call.params.size() > 2 ||
            (call.params.size() == 2 && !indefinite) || ec != std::errc() ||
            end != p.data() + p.size() || length > kMaxTestBlock) {
            r.Error(-222, "Data out of range");
            return;
        }
        if (indefinite)
            r.Text("#0" + TestBlockData(length)); // ends with the message
        else
            r.Block(TestBlockData(length), 0, true);
    });
    return instrument;
}

} // namespace quarvel::sim

#include "sim/family_generic.h"
#include "sim/screen_image.h"

#include <algorithm>
#include <charconv>

namespace quarvel::sim {

std::string TestBlockData(std::size_t length) {
    // TestBlockByte in runs of 256: within a run only i * 31 changes, and the
    // run adds (i >> 8) * 7 to all of it, a loop the compiler vectorises (the
    // benchmarks' 4 MB blocks are made at memory speed, not byte by byte).
    std::uint8_t firstRun[256];
    for (std::size_t k = 0; k < 256; ++k)
        firstRun[k] = TestBlockByte(k);
    std::string data(length, '\0');
    auto* out = reinterpret_cast<std::uint8_t*>(data.data());
    for (std::size_t start = 0; start < length; start += 256) {
        const auto add = static_cast<std::uint8_t>((start >> 8) * 7u);
        const std::size_t n = std::min<std::size_t>(256, length - start);
        for (std::size_t k = 0; k < n; ++k)
            out[start + k] = static_cast<std::uint8_t>(firstRun[k] + add);
    }
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
    if (!setup.imageQuery.empty()) {
        // A made-up instrument's screen image, for definitions users write:
        // a PNG as a definite block, or raw (END ends it; a raw socket adds
        // the line feed that ends every message there).
        const bool raw = setup.imageRaw;
        const std::string model = ModelOf(setup.idn);
        instrument->Commands().Add(setup.imageQuery,
                                   [raw, model](const CommandCall&, CommandResult& r) {
                                       ScreenScene scene;
                                       scene.title = model;
                                       scene.status = "RUN";
                                       std::string png = EncodePng(RenderScreen(scene));
                                       if (raw)
                                           r.Raw(std::move(png), "png");
                                       else
                                           r.Block(std::move(png), 0, true, "png");
                                   });
    }
    return instrument;
}

} // namespace quarvel::sim

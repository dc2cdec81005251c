#include "instr/definition_parser.h"

#include "instr/waveform_method.h"
#include "visa/ascii.h"

// toml++ as a header-only library in this one source, without exceptions:
// a parse gives a result holding either the document or the error with its
// place, so nothing is thrown across the module.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <limits>

namespace quarvel::instr {
namespace {

// Limits that keep a definition small enough to read and to carry out.
constexpr std::size_t kMaxCommandLength = 255; // as every command a driver sends
constexpr std::size_t kMaxSteps = 32;
constexpr std::size_t kMaxPatterns = 64;
constexpr std::int64_t kMaxDelayMs = 10000;

// A problem at a node of the document.
struct Failure {
    std::uint32_t line = 0;
    std::string reason;
};

std::uint32_t LineOf(const toml::node& node) {
    return node.source().begin.line;
}

class Reader {
public:
    explicit Reader(std::optional<Failure>& failure) : m_failure(failure) {}

    bool Failed() const { return m_failure.has_value(); }

    void Fail(std::uint32_t line, std::string reason) {
        if (!m_failure)
            m_failure = Failure{line, std::move(reason)};
    }

    // Refuses keys a table does not know, so a misspelt key is not silently
    // ignored.
    void OnlyKeys(const toml::table& table, std::string_view tableName,
                  std::initializer_list<std::string_view> known) {
        for (auto&& [key, node] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end())
                Fail(LineOf(node), "unknown key '" + std::string(key.str()) + "' in [" +
                                       std::string(tableName) + "]");
        }
    }

    const toml::table* Table(const toml::table& root, std::string_view name, bool required) {
        const toml::node* node = root.get(name);
        if (node == nullptr) {
            if (required)
                Fail(1, "missing table [" + std::string(name) + "]");
            return nullptr;
        }
        const toml::table* table = node->as_table();
        if (table == nullptr)
            Fail(LineOf(*node), "'" + std::string(name) + "' must be a table");
        return table;
    }

    // A command text: not empty, one line, not longer than any command a
    // driver sends.
    bool CheckCommand(const std::string& text, std::uint32_t line, std::string_view key) {
        if (text.empty())
            Fail(line, "'" + std::string(key) + "' holds an empty command");
        else if (text.find_first_of("\r\n") != std::string::npos)
            Fail(line, "'" + std::string(key) + "' holds a line break; give one command a line");
        else if (text.size() > kMaxCommandLength)
            Fail(line, "'" + std::string(key) + "' holds a command longer than 255 characters");
        return !Failed();
    }

    std::string String(const toml::table& table, std::string_view tableName, std::string_view key,
                       bool required) {
        const toml::node* node = table.get(key);
        if (node == nullptr) {
            if (required)
                Fail(LineOf(table),
                     "missing key '" + std::string(key) + "' in [" + std::string(tableName) + "]");
            return {};
        }
        const auto* value = node->as_string();
        if (value == nullptr) {
            Fail(LineOf(*node), "'" + std::string(key) + "' must be a string");
            return {};
        }
        return value->get();
    }

    std::string Command(const toml::table& table, std::string_view tableName, std::string_view key,
                        bool required) {
        std::string text = String(table, tableName, key, required);
        const toml::node* node = table.get(key);
        if (!Failed() && node != nullptr)
            CheckCommand(text, LineOf(*node), key);
        return text;
    }

    std::vector<std::string> Strings(const toml::table& table, std::string_view tableName,
                                     std::string_view key, bool required) {
        std::vector<std::string> result;
        const toml::node* node = table.get(key);
        if (node == nullptr) {
            if (required)
                Fail(LineOf(table),
                     "missing key '" + std::string(key) + "' in [" + std::string(tableName) + "]");
            return result;
        }
        const toml::array* array = node->as_array();
        if (array == nullptr || array->empty() || array->size() > kMaxPatterns) {
            Fail(LineOf(*node), "'" + std::string(key) + "' must be a list of 1 to 64 strings");
            return result;
        }
        for (const toml::node& element : *array) {
            const auto* value = element.as_string();
            if (value == nullptr || value->get().empty()) {
                Fail(LineOf(element), "'" + std::string(key) + "' holds a value that is no text");
                return {};
            }
            result.push_back(value->get());
        }
        return result;
    }

    // A list of steps: command strings and { delay_ms = N } tables.
    std::vector<DefinitionStep> Steps(const toml::table& table, std::string_view tableName,
                                      std::string_view key, bool required) {
        std::vector<DefinitionStep> steps;
        const toml::node* node = table.get(key);
        if (node == nullptr) {
            if (required)
                Fail(LineOf(table),
                     "missing key '" + std::string(key) + "' in [" + std::string(tableName) + "]");
            return steps;
        }
        const toml::array* array = node->as_array();
        if (array == nullptr || array->size() > kMaxSteps) {
            Fail(LineOf(*node), "'" + std::string(key) + "' must be a list of at most 32 steps");
            return steps;
        }
        for (const toml::node& element : *array) {
            if (const auto* text = element.as_string()) {
                if (!CheckCommand(text->get(), LineOf(element), key))
                    return {};
                steps.push_back({text->get(), 0});
                continue;
            }
            const toml::table* pause = element.as_table();
            const toml::node* delay = pause != nullptr ? pause->get("delay_ms") : nullptr;
            const auto* ms = delay != nullptr ? delay->as_integer() : nullptr;
            if (pause == nullptr || pause->size() != 1 || ms == nullptr || ms->get() < 0 ||
                ms->get() > kMaxDelayMs) {
                Fail(LineOf(element), "a step of '" + std::string(key) +
                                          "' must be a command or { delay_ms = 0 to 10000 }");
                return {};
            }
            steps.push_back({"", static_cast<std::uint32_t>(ms->get())});
        }
        if (required && steps.empty())
            Fail(LineOf(*node), "'" + std::string(key) + "' must not be empty");
        return steps;
    }

private:
    std::optional<Failure>& m_failure;
};

// toml++ 3.3 reaches an unreachable point when it tests some characters that
// are not ASCII (U+00A1-U+0499 among them, found by the fuzz target) as white
// space, which it does for characters outside strings and comments. So the
// text is parsed first with every such byte made a '!': valid in strings and
// comments, an error anywhere else, the lines unchanged. Only a text that
// passes is parsed as written, its other characters then all in strings and
// comments.
std::string WithAsciiStandIns(std::string_view text) {
    std::string ascii(text);
    for (char& c : ascii)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '!';
    return ascii;
}

std::optional<ImageFraming> FramingNamed(std::string_view name) {
    constexpr std::array<std::pair<std::string_view, ImageFraming>, 4> kNames = {{
        {"block", ImageFraming::Block},
        {"raw", ImageFraming::Raw},
        {"bmp", ImageFraming::Bmp},
        {"png", ImageFraming::Png},
    }};
    for (const auto& [text, framing] : kNames)
        if (text == name)
            return framing;
    return std::nullopt;
}

void ReadFamily(Reader& r, const toml::table& family, InstrumentDefinition& d) {
    r.OnlyKeys(family, "family", {"name", "maker", "models"});
    d.name = r.String(family, "family", "name", true);
    if (!r.Failed() && d.name.empty())
        r.Fail(LineOf(*family.get("name")), "'name' must not be empty");
    d.maker = r.String(family, "family", "maker", true);
    if (!r.Failed() && d.maker.empty())
        r.Fail(LineOf(*family.get("maker")), "'maker' must not be empty");
    d.models = r.Strings(family, "family", "models", true);
}

void ReadImage(Reader& r, const toml::table& image, InstrumentDefinition& d) {
    r.OnlyKeys(
        image, "image",
        {"format", "framing", "steps", "query", "file", "delete", "ink_saver_on", "ink_saver_off"});
    d.imageFormat = r.String(image, "image", "format", true);
    if (!r.Failed() && d.imageFormat != "png" && d.imageFormat != "bmp")
        r.Fail(LineOf(*image.get("format")), "'format' must be \"png\" or \"bmp\"");
    const std::string framing = r.String(image, "image", "framing", true);
    if (!r.Failed()) {
        const auto named = FramingNamed(framing);
        if (!named)
            r.Fail(LineOf(*image.get("framing")),
                   "unknown framing '" + framing + "' (block, raw, bmp or png)");
        else
            d.framing = *named;
    }
    d.imageSteps = r.Steps(image, "image", "steps", false);
    d.imageQuery = r.Command(image, "image", "query", true);
    d.inkSaverOn = r.Steps(image, "image", "ink_saver_on", false);
    d.inkSaverOff = r.Steps(image, "image", "ink_saver_off", false);
    d.instrumentFile = r.String(image, "image", "file", false);
    d.deleteCommand = r.Command(image, "image", "delete", false);
    if (r.Failed())
        return;
    if (!d.instrumentFile.empty() && d.deleteCommand.empty())
        r.Fail(LineOf(*image.get("file")), "'file' needs a 'delete' command: the image file "
                                           "must not stay on the instrument");
    else if (d.instrumentFile.empty() && !d.deleteCommand.empty())
        r.Fail(LineOf(*image.get("delete")), "'delete' without a 'file'");
    else if (image.get("file") != nullptr)
        r.CheckCommand(d.instrumentFile, LineOf(*image.get("file")), "file");
}

void ReadRun(Reader& r, const toml::table& run, InstrumentDefinition& d) {
    r.OnlyKeys(run, "run", {"stop", "run", "single", "state_query", "running", "stopped"});
    d.stop = r.Steps(run, "run", "stop", true);
    d.run = r.Steps(run, "run", "run", true);
    d.single = r.Steps(run, "run", "single", true);
    d.stateQuery = r.Command(run, "run", "state_query", false);
    const bool hasQuery = run.get("state_query") != nullptr;
    d.runningWords = r.Strings(run, "run", "running", hasQuery);
    d.stoppedWords = r.Strings(run, "run", "stopped", false);
    if (!r.Failed() && !hasQuery && run.get("running") != nullptr)
        r.Fail(LineOf(*run.get("running")), "'running' without a 'state_query'");
}

// Longest page a definition may ask for: 100 M points, the deepest memory
// read in one piece by the families known.
constexpr std::int64_t kMaxPagePoints = 100'000'000;

void ReadWaveform(Reader& r, const toml::table& waveform, InstrumentDefinition& d) {
    r.OnlyKeys(waveform, "waveform", {"method", "channels", "page_points"});
    d.waveformMethod = r.String(waveform, "waveform", "method", true);
    if (!r.Failed() && FindWaveformMethod(d.waveformMethod) == nullptr) {
        std::string known;
        for (std::string_view name : WaveformMethodNames())
            known += (known.empty() ? "" : ", ") + std::string(name);
        r.Fail(LineOf(*waveform.get("method")),
               "unknown waveform method '" + d.waveformMethod + "' (" +
                   (known.empty() ? std::string("none known") : known) + ")");
    }
    d.waveformChannels = r.Strings(waveform, "waveform", "channels", true);
    for (const std::string& channel : d.waveformChannels)
        if (!r.Failed())
            r.CheckCommand(channel, LineOf(*waveform.get("channels")), "channels");
    if (const toml::node* page = waveform.get("page_points"); page != nullptr && !r.Failed()) {
        const auto* points = page->as_integer();
        if (points == nullptr || points->get() < 1 || points->get() > kMaxPagePoints)
            r.Fail(LineOf(*page), "'page_points' must be a whole number from 1 to 100000000");
        else
            d.waveformPagePoints = static_cast<std::uint32_t>(points->get());
    }
}

} // namespace

std::string DefinitionProblem::Text() const {
    const std::string where = file.empty() ? std::string("built-in") : file;
    if (line == 0)
        return where + ": " + reason;
    return where + ":" + std::to_string(line) + ": " + reason;
}

std::optional<InstrumentDefinition> ParseDefinition(std::string_view text, const std::string& file,
                                                    DefinitionProblem& problem) {
    problem = DefinitionProblem{file, 0, {}};
    if (text.size() > kMaxDefinitionSize) {
        problem.reason = "larger than 64 KiB; not a definition";
        return std::nullopt;
    }
    const std::string ascii = WithAsciiStandIns(text);
    const bool allAscii = ascii == text;
    toml::parse_result parsed = toml::parse(ascii, file);
    if (parsed && !allAscii)
        parsed = toml::parse(text, file);
    if (!parsed) {
        problem.line = parsed.error().source().begin.line;
        problem.reason = std::string(parsed.error().description());
        return std::nullopt;
    }
    const toml::table& root = parsed.table();

    std::optional<Failure> failure;
    Reader r(failure);
    InstrumentDefinition d;
    d.file = file;
    r.OnlyKeys(root, "", {"family", "image", "run", "waveform"});
    if (const toml::table* family = r.Table(root, "family", true); family && !r.Failed())
        ReadFamily(r, *family, d);
    if (const toml::table* image = r.Table(root, "image", true); image && !r.Failed())
        ReadImage(r, *image, d);
    if (const toml::table* run = r.Table(root, "run", false); run && !r.Failed())
        ReadRun(r, *run, d);
    if (const toml::table* waveform = r.Table(root, "waveform", false); waveform && !r.Failed())
        ReadWaveform(r, *waveform, d);
    if (failure) {
        problem.line = failure->line;
        problem.reason = failure->reason;
        return std::nullopt;
    }
    return d;
}

bool ModelMatchesPattern(std::string_view pattern, std::string_view model) {
    // Iterative glob with one backtrack point: linear in practice, never
    // recursive, whatever a user's pattern holds.
    std::size_t p = 0, m = 0;
    std::size_t star = std::string_view::npos, starModel = 0;
    while (m < model.size()) {
        if (p < pattern.size() && pattern[p] != '*' &&
            (pattern[p] == '?' || pattern[p] == model[m])) {
            ++p;
            ++m;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starModel = m;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            m = ++starModel;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace quarvel::instr

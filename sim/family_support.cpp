#include "sim/family_support.h"

#include "visa/ascii.h"

#include <string>
#include <vector>

namespace quarvel::sim {
namespace {

std::string ShortForm(std::string_view choice) {
    std::string s;
    for (char c : choice)
        if (!(c >= 'a' && c <= 'z'))
            s += c;
    return s;
}

} // namespace

bool ParseBoolParam(const CommandCall& call, std::size_t index, CommandResult& result,
                    bool& value) {
    if (index >= call.params.size()) {
        result.Error(-109, "Missing parameter");
        return false;
    }
    const int choice = MatchChoice(call.params[index], {"ON", "OFF", "1", "0"});
    if (choice < 0) {
        result.Error(-224, "Illegal parameter value");
        return false;
    }
    value = choice == 0 || choice == 2;
    return true;
}

int MatchChoice(std::string_view param, std::initializer_list<std::string_view> choices) {
    int i = 0;
    for (std::string_view choice : choices) {
        if (ascii::EqualsIgnoringCase(param, ShortForm(choice)) ||
            ascii::EqualsIgnoringCase(param, choice))
            return i;
        ++i;
    }
    return -1;
}

void AddChoiceSetting(CommandTable& table, std::string_view pattern,
                      std::initializer_list<std::string_view> choices, std::string& value) {
    const std::vector<std::string_view> list(choices);
    table.Add(pattern, [list, &value](const CommandCall& call, CommandResult& r) {
        if (call.params.size() != 1) {
            r.Error(call.params.empty() ? -109 : -108,
                    call.params.empty() ? "Missing parameter" : "Parameter not allowed");
            return;
        }
        for (std::string_view choice : list) {
            if (ascii::EqualsIgnoringCase(call.params[0], ShortForm(choice)) ||
                ascii::EqualsIgnoringCase(call.params[0], choice)) {
                value = ascii::ToUpper(choice);
                return;
            }
        }
        r.Error(-224, "Illegal parameter value");
    });
    table.Add(std::string(pattern) + "?", [list, &value](const CommandCall&, CommandResult& r) {
        for (std::string_view choice : list)
            if (ascii::ToUpper(choice) == value) {
                r.Text(ShortForm(choice));
                return;
            }
        r.Text(value);
    });
}

void AddRunStopSingle(CommandTable& table, RunState& run) {
    table.Add(":RUN", [&run](const CommandCall&, CommandResult&) { run = RunState::Run; });
    table.Add(":STOP", [&run](const CommandCall&, CommandResult&) { run = RunState::Stop; });
    table.Add(":SINGle", [&run](const CommandCall&, CommandResult&) { run = RunState::Single; });
}

void AddBoolSetting(CommandTable& table, std::string_view pattern, bool& value) {
    table.Add(pattern, [&value](const CommandCall& call, CommandResult& r) {
        ParseBoolParam(call, 0, r, value);
    });
    table.Add(std::string(pattern) + "?",
              [&value](const CommandCall&, CommandResult& r) { r.Text(value ? "1" : "0"); });
}

void AddWaveformSource(CommandTable& table, std::string_view command, std::shared_ptr<void> owner,
                       int& source, std::initializer_list<std::string_view> stems) {
    int* target = &source;
    table.Add(command, [owner, target, names = std::vector<std::string_view>(stems)](
                           const CommandCall& call, CommandResult& r) {
        const std::string upper =
            call.params.size() == 1 ? quarvel::ascii::ToUpper(call.params[0]) : std::string();
        for (const std::string_view stem : names) {
            if (upper.size() == stem.size() + 1 && upper.compare(0, stem.size(), stem) == 0 &&
                upper.back() >= '1' && upper.back() <= '4') {
                *target = upper.back() - '0';
                return;
            }
        }
        r.Error(-224, "Illegal parameter value");
    });
}

void AddChannelSwitch(CommandTable& table, std::string_view pattern, std::shared_ptr<void> owner,
                      bool (&channelOn)[4], std::string_view onWord, std::string_view offWord) {
    bool* on = channelOn;
    const auto channel = [](const CommandCall& call, CommandResult& r) -> int {
        const int n = call.suffixes[0];
        if (n >= 1 && n <= 4)
            return n;
        r.Error(-113, "Undefined header");
        return 0;
    };
    table.Add(pattern, [owner, on, channel](const CommandCall& call, CommandResult& r) {
        bool value = false;
        if (const int n = channel(call, r); n != 0 && ParseBoolParam(call, 0, r, value))
            on[n - 1] = value;
    });
    table.Add(std::string(pattern) + "?",
              [owner, on, channel, onText = std::string(onWord),
               offText = std::string(offWord)](const CommandCall& call, CommandResult& r) {
                  if (const int n = channel(call, r); n != 0)
                      r.Text(on[n - 1] ? onText : offText);
              });
}

void AddStringSetting(CommandTable& table, std::string_view pattern, std::string& value) {
    table.Add(pattern, [&value](const CommandCall& call, CommandResult& r) {
        if (call.params.size() != 1) {
            r.Error(-109, "Missing parameter");
            return;
        }
        const std::string& p = call.params[0];
        if (p.size() < 2 || (p.front() != '\'' && p.front() != '"') || p.back() != p.front()) {
            r.Error(-151, "Invalid string data");
            return;
        }
        value = call.Unquoted(0);
    });
    table.Add(std::string(pattern) + "?",
              [&value](const CommandCall&, CommandResult& r) { r.Text("'" + value + "'"); });
}

std::string ModelOf(std::string_view idn) {
    const std::size_t first = idn.find(',');
    if (first == std::string_view::npos)
        return {};
    const std::size_t second = idn.find(',', first + 1);
    return std::string(idn.substr(
        first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1));
}

bool ModelStartsWith(std::string_view model, std::string_view prefix) {
    std::string compact;
    for (char c : model)
        if (c != ' ' && c != '-')
            compact += c;
    return compact.size() >= prefix.size() &&
           quarvel::ascii::EqualsIgnoringCase(compact.substr(0, prefix.size()), prefix);
}

void SetBlockTail(CommandResult& result, int tail) {
    result.reply.trailingLf = tail == 1;
    if (tail == 1)
        return;
    result.reply.exact = true;
    if (tail > 1)
        result.reply.trailer = std::string(static_cast<std::size_t>(tail - 1), '\0') + "\n";
}

void SetRawFileTail(CommandResult& result, bool lineFeed) {
    result.reply.exact = true;
    result.reply.trailer = lineFeed ? "\n" : "";
}

void AddSweepControl(CommandTable& table, bool& continuous) {
    AddBoolSetting(table, ":INITiate:CONTinuous", continuous);
    // A single sweep ends at once on the simulated signal; the analyser is
    // left in single-sweep mode, as a real one is after INIT:CONT OFF;INIT.
    table.Add(":INITiate[:IMMediate]", [](const CommandCall&, CommandResult&) {});
}

} // namespace quarvel::sim

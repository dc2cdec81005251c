#pragma once

// Habits of real instruments a persona can be told to show or leave out
// (--habit NAME=VALUE). Each family lists its habits with the value its real
// firmware has by default; a factory reads the resolved values from its
// InstrumentSetup. The sources of each habit are in docs/design.md.

#include <map>
#include <span>
#include <string>
#include <string_view>

namespace quarvel::sim {

struct HabitInfo {
    std::string_view name;         // "block-tail"
    std::string_view values;       // "0|1|3", "on|off", or "MS" for milliseconds 0..600000
    std::string_view defaultValue; // what the real instrument does
    std::string_view help;
};

// Habit name → value, every habit of the family present.
class HabitValues {
public:
    void Set(std::string name, std::string value) { m_values[std::move(name)] = std::move(value); }
    bool Has(std::string_view name) const { return m_values.find(name) != m_values.end(); }
    // The value; "" when absent.
    std::string Value(std::string_view name) const;
    // "on" → true; absent or anything else → false.
    bool On(std::string_view name) const;
    // The value as a number; absent or not a number → fallback.
    int Number(std::string_view name, int fallback) const;

private:
    std::map<std::string, std::string, std::less<>> m_values;
};

// Whether value is one the habit takes; otherwise error says which it takes.
bool CheckHabitValue(const HabitInfo& habit, std::string_view value, std::string& error);

// Fills in the default of every habit in `habits` that `values` lacks.
void AddHabitDefaults(std::span<const HabitInfo> habits, HabitValues& values);

} // namespace quarvel::sim

#include "sim/habits.h"

#include <charconv>

namespace quarvel::sim {
namespace {

constexpr int kMaxHabitMs = 600'000;

bool ParseInt(std::string_view text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

} // namespace

std::string HabitValues::Value(std::string_view name) const {
    const auto it = m_values.find(name);
    return it == m_values.end() ? std::string() : it->second;
}

bool HabitValues::On(std::string_view name) const {
    const auto it = m_values.find(name);
    return it != m_values.end() && it->second == "on";
}

int HabitValues::Number(std::string_view name, int fallback) const {
    const auto it = m_values.find(name);
    int value = 0;
    return it != m_values.end() && ParseInt(it->second, value) ? value : fallback;
}

bool CheckHabitValue(const HabitInfo& habit, std::string_view value, std::string& error) {
    if (habit.values == "MS") {
        int ms = 0;
        if (ParseInt(value, ms) && ms >= 0 && ms <= kMaxHabitMs)
            return true;
        error = std::string(habit.name) + " takes milliseconds from 0 to 600000";
        return false;
    }
    std::string_view rest = habit.values;
    while (!rest.empty()) {
        const std::size_t bar = rest.find('|');
        if (rest.substr(0, bar) == value)
            return true;
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
    }
    error = std::string(habit.name) + " takes " + std::string(habit.values);
    return false;
}

void AddHabitDefaults(std::span<const HabitInfo> habits, HabitValues& values) {
    for (const HabitInfo& habit : habits)
        if (!values.Has(habit.name))
            values.Set(std::string(habit.name), std::string(habit.defaultValue));
}

} // namespace quarvel::sim

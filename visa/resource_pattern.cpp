#include "visa/resource_pattern.h"

#include "visa/resource_forms.h"

#include <algorithm>
#include <bitset>
#include <cctype>
#include <charconv>

namespace quarvel::visa {

namespace {

// Longer expressions are refused: a search expression names a few fields.
constexpr std::size_t kMaxExpression = 1024;
// Parentheses nest at most this deep (both parts), so parsing needs no
// unbounded recursion.
constexpr int kMaxNesting = 32;

// ------------------------------------------------ regular expression ----

// One state of a Thompson automaton.
struct State {
    enum Kind { Set, Split, Match } kind = Match;
    std::bitset<256> set; // Set: the characters (both cases) it consumes
    int out = -1;
    int out1 = -1; // Split: the second way
};

// A part of the automaton under construction: its start and the dangling
// exits still to be joined to what follows.
struct Fragment {
    int start = -1;
    std::vector<int*> exits;
};

class RegexParser {
public:
    RegexParser(std::string_view text, std::vector<State>& states)
        : m_text(text), m_states(states) {
        // Exits are pointers into the states, so the vector must never move;
        // each character makes at most two states.
        m_states.reserve(2 * text.size() + 2);
    }

    bool Parse() {
        Fragment whole;
        if (!Alternation(whole, 0) || m_pos != m_text.size())
            return false;
        const int match = Add(State{});
        Patch(whole, match);
        m_start = whole.start;
        return true;
    }
    int Start() const { return m_start; }

private:
    int Add(State s) {
        m_states.push_back(s);
        return static_cast<int>(m_states.size()) - 1;
    }
    void Patch(Fragment& f, int to) {
        for (int* exit : f.exits)
            *exit = to;
        f.exits.clear();
    }
    bool More() const { return m_pos < m_text.size(); }
    char Peek() const { return m_text[m_pos]; }

    bool Alternation(Fragment& out, int depth) {
        if (depth > kMaxNesting || !Sequence(out, depth))
            return false;
        while (More() && Peek() == '|') {
            ++m_pos;
            Fragment right;
            if (!Sequence(right, depth))
                return false;
            State split;
            split.kind = State::Split;
            split.out = out.start;
            split.out1 = right.start;
            const int s = Add(split);
            out.start = s;
            out.exits.insert(out.exits.end(), right.exits.begin(), right.exits.end());
        }
        return true;
    }

    bool Sequence(Fragment& out, int depth) {
        bool any = false;
        while (More() && Peek() != '|' && Peek() != ')') {
            Fragment piece;
            if (!Repetition(piece, depth))
                return false;
            if (!any) {
                out = std::move(piece);
                any = true;
            } else {
                Patch(out, piece.start);
                out.exits = std::move(piece.exits);
            }
        }
        return any; // an empty branch is no expression
    }

    bool Repetition(Fragment& out, int depth) {
        if (!Atom(out, depth))
            return false;
        while (More() && (Peek() == '*' || Peek() == '+')) {
            const bool atLeastOnce = Peek() == '+';
            ++m_pos;
            State split;
            split.kind = State::Split;
            split.out = out.start;
            const int s = Add(split);
            Patch(out, s);
            if (!atLeastOnce)
                out.start = s;
            out.exits = {&m_states[static_cast<std::size_t>(s)].out1};
        }
        return true;
    }

    bool Atom(Fragment& out, int depth) {
        if (!More())
            return false;
        const char c = m_text[m_pos++];
        State s;
        s.kind = State::Set;
        switch (c) {
        case '(':
            if (!Alternation(out, depth + 1) || !More() || Peek() != ')')
                return false;
            ++m_pos;
            return true;
        case '?':
            s.set.set();
            break;
        case '[':
            if (!CharacterList(s.set))
                return false;
            break;
        case '\\':
            if (!More())
                return false;
            AddChar(s.set, m_text[m_pos++]);
            break;
        case '*':
        case '+':
        case ')':
        case ']':
        case '{':
        case '}':
            return false; // nothing to repeat, or unbalanced
        default:
            AddChar(s.set, c);
            break;
        }
        const int index = Add(s);
        out.start = index;
        out.exits = {&m_states[static_cast<std::size_t>(index)].out};
        return true;
    }

    static void AddChar(std::bitset<256>& set, char c) {
        const auto u = static_cast<unsigned char>(c);
        set.set(u);
        set.set(static_cast<unsigned char>(std::tolower(u)));
        set.set(static_cast<unsigned char>(std::toupper(u)));
    }

    // After '[': the list up to ']'.
    bool CharacterList(std::bitset<256>& set) {
        bool negate = false;
        if (More() && Peek() == '^') {
            negate = true;
            ++m_pos;
        }
        bool any = false;
        while (More() && Peek() != ']') {
            char first = m_text[m_pos++];
            if (first == '\\') {
                if (!More())
                    return false;
                first = m_text[m_pos++];
            }
            char last = first;
            if (m_pos + 1 < m_text.size() && Peek() == '-' && m_text[m_pos + 1] != ']') {
                last = m_text[m_pos + 1];
                m_pos += 2;
                if (static_cast<unsigned char>(last) < static_cast<unsigned char>(first))
                    return false;
            }
            for (int u = static_cast<unsigned char>(first); u <= static_cast<unsigned char>(last);
                 ++u)
                AddChar(set, static_cast<char>(u));
            any = true;
        }
        if (!More() || !any)
            return false;
        ++m_pos; // ']'
        if (negate)
            set.flip();
        return true;
    }

    std::string_view m_text;
    std::vector<State>& m_states;
    std::size_t m_pos = 0;
    int m_start = -1;
};

// Adds s and the states it reaches without consuming input.
void AddClosure(const std::vector<State>& states, int s, std::vector<char>& on,
                std::vector<int>& list) {
    std::vector<int> stack{s};
    while (!stack.empty()) {
        const int i = stack.back();
        stack.pop_back();
        if (i < 0 || on[static_cast<std::size_t>(i)])
            continue;
        on[static_cast<std::size_t>(i)] = 1;
        const State& state = states[static_cast<std::size_t>(i)];
        if (state.kind == State::Split) {
            stack.push_back(state.out1);
            stack.push_back(state.out);
        } else {
            list.push_back(i);
        }
    }
}

// ------------------------------------------------ attribute expression ----

enum class AttrKind { Number, Text };

struct KnownAttribute {
    const char* name;
    ViAttr attribute;
    AttrKind kind;
};

constexpr KnownAttribute kKnownAttributes[] = {
    {"VI_ATTR_INTF_TYPE", VI_ATTR_INTF_TYPE, AttrKind::Number},
    {"VI_ATTR_INTF_NUM", VI_ATTR_INTF_NUM, AttrKind::Number},
    {"VI_ATTR_RSRC_CLASS", VI_ATTR_RSRC_CLASS, AttrKind::Text},
    {"VI_ATTR_RSRC_NAME", VI_ATTR_RSRC_NAME, AttrKind::Text},
    {"VI_ATTR_TCPIP_ADDR", VI_ATTR_TCPIP_ADDR, AttrKind::Text},
    {"VI_ATTR_TCPIP_HOSTNAME", VI_ATTR_TCPIP_HOSTNAME, AttrKind::Text},
    {"VI_ATTR_TCPIP_PORT", VI_ATTR_TCPIP_PORT, AttrKind::Number},
    {"VI_ATTR_TCPIP_DEVICE_NAME", VI_ATTR_TCPIP_DEVICE_NAME, AttrKind::Text},
};

enum class Op { Eq, Ne, Lt, Gt, Le, Ge };

struct Condition {
    enum Kind { Or, And, Not, Compare } kind = Compare;
    std::vector<Condition> operands; // Or, And, Not
    ViAttr attribute = 0;
    Op op = Op::Eq;
    AttributeValue value;
};

class ConditionParser {
public:
    explicit ConditionParser(std::string_view text) : m_text(text) {}

    bool Parse(Condition& out) {
        if (!OrExpr(out, 0))
            return false;
        SkipSpace();
        return m_pos == m_text.size();
    }

private:
    void SkipSpace() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos])))
            ++m_pos;
    }
    bool Take(std::string_view token) {
        SkipSpace();
        if (m_text.substr(m_pos, token.size()) != token)
            return false;
        m_pos += token.size();
        return true;
    }

    bool OrExpr(Condition& out, int depth) {
        if (depth > kMaxNesting || !AndExpr(out, depth))
            return false;
        while (Take("||")) {
            Condition right;
            if (!AndExpr(right, depth))
                return false;
            Condition both;
            both.kind = Condition::Or;
            both.operands = {std::move(out), std::move(right)};
            out = std::move(both);
        }
        return true;
    }

    bool AndExpr(Condition& out, int depth) {
        if (!Unary(out, depth))
            return false;
        while (Take("&&")) {
            Condition right;
            if (!Unary(right, depth))
                return false;
            Condition both;
            both.kind = Condition::And;
            both.operands = {std::move(out), std::move(right)};
            out = std::move(both);
        }
        return true;
    }

    bool Unary(Condition& out, int depth) {
        if (depth > kMaxNesting)
            return false;
        SkipSpace();
        if (m_text.substr(m_pos, 2) != "!=" && Take("!")) {
            Condition inner;
            if (!Unary(inner, depth + 1))
                return false;
            out.kind = Condition::Not;
            out.operands = {std::move(inner)};
            return true;
        }
        if (Take("(")) {
            if (!OrExpr(out, depth + 1))
                return false;
            return Take(")");
        }
        return Comparison(out);
    }

    bool Comparison(Condition& out) {
        SkipSpace();
        const std::size_t begin = m_pos;
        while (m_pos < m_text.size() &&
               (std::isalnum(static_cast<unsigned char>(m_text[m_pos])) || m_text[m_pos] == '_'))
            ++m_pos;
        const std::string_view name = m_text.substr(begin, m_pos - begin);
        const auto known = std::find_if(std::begin(kKnownAttributes), std::end(kKnownAttributes),
                                        [&](const KnownAttribute& a) { return name == a.name; });
        if (known == std::end(kKnownAttributes))
            return false;
        out.kind = Condition::Compare;
        out.attribute = known->attribute;
        // Two-character operators first.
        if (Take("=="))
            out.op = Op::Eq;
        else if (Take("!="))
            out.op = Op::Ne;
        else if (Take("<="))
            out.op = Op::Le;
        else if (Take(">="))
            out.op = Op::Ge;
        else if (Take("<"))
            out.op = Op::Lt;
        else if (Take(">"))
            out.op = Op::Gt;
        else
            return false;
        SkipSpace();
        if (known->kind == AttrKind::Text) {
            if (out.op != Op::Eq && out.op != Op::Ne)
                return false;
            return QuotedString(out.value);
        }
        return Number(out.value);
    }

    bool QuotedString(AttributeValue& value) {
        if (m_pos >= m_text.size() || m_text[m_pos] != '"')
            return false;
        const std::size_t close = m_text.find('"', m_pos + 1);
        if (close == std::string_view::npos)
            return false;
        value = std::string(m_text.substr(m_pos + 1, close - m_pos - 1));
        m_pos = close + 1;
        return true;
    }

    bool Number(AttributeValue& value) {
        bool negative = false;
        if (m_pos < m_text.size() && m_text[m_pos] == '-') {
            negative = true;
            ++m_pos;
        }
        int base = 10;
        if (m_text.substr(m_pos, 2) == "0x" || m_text.substr(m_pos, 2) == "0X") {
            base = 16;
            m_pos += 2;
        }
        long long n = 0;
        const char* first = m_text.data() + m_pos;
        const auto [end, ec] = std::from_chars(first, m_text.data() + m_text.size(), n, base);
        if (ec != std::errc() || end == first)
            return false;
        m_pos += static_cast<std::size_t>(end - first);
        value = negative ? -n : n;
        return true;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

bool Evaluate(const Condition& c, const AttributeLookup& lookup) {
    switch (c.kind) {
    case Condition::Or:
        return Evaluate(c.operands[0], lookup) || Evaluate(c.operands[1], lookup);
    case Condition::And:
        return Evaluate(c.operands[0], lookup) && Evaluate(c.operands[1], lookup);
    case Condition::Not:
        return !Evaluate(c.operands[0], lookup);
    case Condition::Compare:
        break;
    }
    AttributeValue actual;
    // A resource without the attribute satisfies no comparison with it.
    if (!lookup || !lookup(c.attribute, actual) || actual.index() != c.value.index())
        return false;
    switch (c.op) {
    case Op::Eq:
        return actual == c.value;
    case Op::Ne:
        return actual != c.value;
    case Op::Lt:
        return actual < c.value;
    case Op::Gt:
        return actual > c.value;
    case Op::Le:
        return actual <= c.value;
    case Op::Ge:
        return actual >= c.value;
    }
    return false;
}

} // namespace

struct ResourcePattern::Program {
    std::vector<State> states;
    int start = -1;
    bool hasCondition = false;
    Condition condition;
};

ResourcePattern::ResourcePattern() = default;
ResourcePattern::~ResourcePattern() = default;
ResourcePattern::ResourcePattern(ResourcePattern&&) noexcept = default;
ResourcePattern& ResourcePattern::operator=(ResourcePattern&&) noexcept = default;

ViStatus ResourcePattern::Compile(std::string_view expression, ResourcePattern& pattern) {
    if (expression.empty() || expression.size() > kMaxExpression)
        return VI_ERROR_INV_EXPR;
    auto program = std::make_unique<Program>();
    // The attribute expression starts at the first brace that no backslash
    // makes an ordinary character.
    std::size_t brace = std::string_view::npos;
    for (std::size_t i = 0; i < expression.size(); ++i) {
        if (expression[i] == '\\') {
            ++i;
        } else if (expression[i] == '{') {
            brace = i;
            break;
        }
    }
    std::string_view regex = expression.substr(0, brace);
    if (brace != std::string_view::npos) {
        if (expression.back() != '}')
            return VI_ERROR_INV_EXPR;
        const std::string_view inner = expression.substr(brace + 1, expression.size() - brace - 2);
        ConditionParser parser(inner);
        if (!parser.Parse(program->condition))
            return VI_ERROR_INV_EXPR;
        program->hasCondition = true;
    }
    RegexParser parser(regex, program->states);
    if (!parser.Parse())
        return VI_ERROR_INV_EXPR;
    program->start = parser.Start();
    pattern.m_program = std::move(program);
    return VI_SUCCESS;
}

bool ResourcePattern::MatchesName(std::string_view name) const {
    if (!m_program)
        return false;
    const std::vector<State>& states = m_program->states;
    std::vector<int> current;
    std::vector<int> next;
    std::vector<char> on(states.size(), 0);
    AddClosure(states, m_program->start, on, current);
    for (char c : name) {
        std::fill(on.begin(), on.end(), 0);
        next.clear();
        const auto u = static_cast<unsigned char>(c);
        for (int i : current) {
            const State& s = states[static_cast<std::size_t>(i)];
            if (s.kind == State::Set && s.set.test(u))
                AddClosure(states, s.out, on, next);
        }
        current.swap(next);
        if (current.empty())
            return false;
    }
    return std::any_of(current.begin(), current.end(), [&](int i) {
        return states[static_cast<std::size_t>(i)].kind == State::Match;
    });
}

bool ResourcePattern::Matches(std::string_view name, const AttributeLookup& lookup) const {
    if (!MatchesName(name))
        return false;
    return !m_program->hasCondition || Evaluate(m_program->condition, lookup);
}

AttributeLookup AttributesOfName(const std::string& resourceName) {
    auto parsed = std::make_shared<ResourceName>();
    const ResourceForm* form = nullptr;
    if (ParseKnownResourceName(resourceName, *parsed, &form) != VI_SUCCESS)
        return [](ViAttr, AttributeValue&) { return false; };
    const ViUInt16 interfaceCode = form->interfaceCode;
    return [parsed, interfaceCode](ViAttr attribute, AttributeValue& value) {
        const bool tcpip = interfaceCode == VI_INTF_TCPIP;
        const bool socket = parsed->resourceClass == "SOCKET";
        switch (attribute) {
        case VI_ATTR_INTF_TYPE:
            value = static_cast<long long>(interfaceCode);
            return true;
        case VI_ATTR_INTF_NUM:
            value = static_cast<long long>(parsed->board);
            return true;
        case VI_ATTR_RSRC_CLASS:
            value = parsed->resourceClass;
            return true;
        case VI_ATTR_RSRC_NAME:
            value = CanonicalResourceName(*parsed);
            return true;
        case VI_ATTR_TCPIP_ADDR:
        case VI_ATTR_TCPIP_HOSTNAME:
            value = parsed->host;
            return tcpip;
        case VI_ATTR_TCPIP_PORT:
            value = static_cast<long long>(parsed->port);
            return tcpip && socket;
        case VI_ATTR_TCPIP_DEVICE_NAME:
            value = parsed->device;
            return tcpip && !socket;
        default:
            return false;
        }
    };
}

} // namespace quarvel::visa

#include "visa_surface/resource_expression.h"

#include <cctype>
#include <functional>
#include <utility>
#include <vector>

namespace visa_surface {

struct ResourceExpression::Node {
    enum class Kind { Literal, Any, Class, Group };
    enum class Repeat { Once, ZeroOrMore, OneOrMore };

    Kind kind = Kind::Literal;
    Repeat repeat = Repeat::Once;
    char literal = 0;
    bool negated = false;
    std::vector<std::pair<char, char>> ranges;
    std::vector<std::vector<Node>> alternatives;
};

namespace {

using Node = ResourceExpression::Node;
using Continuation = std::function<bool(std::size_t)>;

// Groups nest no deeper than this: the parser and the matcher recurse once
// per level, and an expression comes from the client.
constexpr int kMaxNesting = 32;

// Backtracking can take exponential time on expressions such as ?*?*?*...x;
// past this many steps a name counts as not matching.
constexpr std::size_t kMaxSteps = 1000000;

struct Steps {
    std::size_t taken = 0;
};

char Fold(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool ParseAll(Node& root)
    {
        root.kind = Node::Kind::Group;
        if (!ParseAlternatives(root) || pos_ != text_.size()) {
            return false;
        }
        return true;
    }

private:
    bool ParseAlternatives(Node& group)
    {
        group.alternatives.emplace_back();
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ')') {
                return true;
            }
            if (c == '|') {
                ++pos_;
                group.alternatives.emplace_back();
                continue;
            }
            std::vector<Node>& sequence = group.alternatives.back();
            if (c == '*' || c == '+') {
                if (sequence.empty() || sequence.back().repeat != Node::Repeat::Once) {
                    return false;
                }
                sequence.back().repeat = c == '*' ? Node::Repeat::ZeroOrMore : Node::Repeat::OneOrMore;
                ++pos_;
                continue;
            }
            Node node;
            if (!ParseItem(node)) {
                return false;
            }
            sequence.push_back(std::move(node));
        }
        return true;
    }

    bool ParseItem(Node& node)
    {
        const char c = text_[pos_++];
        switch (c) {
        case '?': node.kind = Node::Kind::Any; return true;
        case '\\':
            if (pos_ >= text_.size()) {
                return false;
            }
            node.literal = Fold(text_[pos_++]);
            return true;
        case '[': return ParseClass(node);
        case '(':
            node.kind = Node::Kind::Group;
            if (++depth_ > kMaxNesting) {
                return false;
            }
            if (!ParseAlternatives(node) || pos_ >= text_.size() || text_[pos_] != ')') {
                return false;
            }
            --depth_;
            ++pos_;
            return true;
        case ']': return false;
        default: node.literal = Fold(c); return true;
        }
    }

    bool ParseClass(Node& node)
    {
        node.kind = Node::Kind::Class;
        if (pos_ < text_.size() && text_[pos_] == '^') {
            node.negated = true;
            ++pos_;
        }
        bool first = true;
        while (pos_ < text_.size() && (text_[pos_] != ']' || first)) {
            char low = text_[pos_++];
            if (low == '\\' && pos_ < text_.size()) {
                low = text_[pos_++];
            }
            char high = low;
            if (pos_ + 1 < text_.size() && text_[pos_] == '-' && text_[pos_ + 1] != ']') {
                high = text_[pos_ + 1];
                pos_ += 2;
                if (high < low) {
                    return false;
                }
            }
            node.ranges.emplace_back(low, high);
            first = false;
        }
        if (pos_ >= text_.size()) {
            return false;
        }
        ++pos_;  // the closing bracket
        return true;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

bool InClass(const Node& node, char c)
{
    const char lower = Fold(c);
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool inside = false;
    for (const auto& range : node.ranges) {
        if ((lower >= range.first && lower <= range.second) || (upper >= range.first && upper <= range.second)) {
            inside = true;
            break;
        }
    }
    return inside != node.negated;
}

bool MatchSequence(const std::vector<Node>& sequence, std::size_t index, const std::string& name, std::size_t pos,
                   Steps& steps, const Continuation& next);

// One occurrence of `node` at `pos`, then `next` from wherever it ended.
bool MatchOnce(const Node& node, const std::string& name, std::size_t pos, Steps& steps, const Continuation& next)
{
    if (++steps.taken > kMaxSteps) {
        return false;
    }
    switch (node.kind) {
    case Node::Kind::Group:
        for (const auto& alternative : node.alternatives) {
            if (MatchSequence(alternative, 0, name, pos, steps, next)) {
                return true;
            }
        }
        return false;
    case Node::Kind::Any: return pos < name.size() && next(pos + 1);
    case Node::Kind::Class: return pos < name.size() && InClass(node, name[pos]) && next(pos + 1);
    case Node::Kind::Literal: return pos < name.size() && Fold(name[pos]) == node.literal && next(pos + 1);
    }
    return false;
}

// Greedy repetition; an occurrence that consumes nothing ends it, so that
// groups which can match empty text do not loop.
bool MatchRepeated(const Node& node, std::size_t minimum, const std::string& name, std::size_t pos, Steps& steps,
                   const Continuation& next)
{
    const bool more = MatchOnce(node, name, pos, steps, [&](std::size_t end) {
        if (end == pos) {
            return false;
        }
        return MatchRepeated(node, minimum > 0 ? minimum - 1 : 0, name, end, steps, next);
    });
    if (more) {
        return true;
    }
    if (minimum == 0) {
        return next(pos);
    }
    return minimum == 1 && MatchOnce(node, name, pos, steps, [&](std::size_t end) { return end == pos && next(end); });
}

bool MatchSequence(const std::vector<Node>& sequence, std::size_t index, const std::string& name, std::size_t pos,
                   Steps& steps, const Continuation& next)
{
    if (index == sequence.size()) {
        return next(pos);
    }
    const Node& node = sequence[index];
    const Continuation rest = [&](std::size_t end) {
        return MatchSequence(sequence, index + 1, name, end, steps, next);
    };
    switch (node.repeat) {
    case Node::Repeat::Once: return MatchOnce(node, name, pos, steps, rest);
    case Node::Repeat::ZeroOrMore: return MatchRepeated(node, 0, name, pos, steps, rest);
    case Node::Repeat::OneOrMore: return MatchRepeated(node, 1, name, pos, steps, rest);
    }
    return false;
}

}  // namespace

ResourceExpression::ResourceExpression() : root_(std::make_unique<Node>()) {}
ResourceExpression::~ResourceExpression() = default;

std::unique_ptr<ResourceExpression> ResourceExpression::Parse(const std::string& text)
{
    std::unique_ptr<ResourceExpression> expression(new ResourceExpression());
    Parser parser(text);
    if (!parser.ParseAll(*expression->root_)) {
        return nullptr;
    }
    return expression;
}

bool ResourceExpression::Matches(const std::string& name) const
{
    Steps steps;
    return MatchOnce(*root_, name, 0, steps, [&](std::size_t end) { return end == name.size(); });
}

}  // namespace visa_surface

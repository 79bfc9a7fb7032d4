// The regular expressions of viFindRsrc: `?` any one character, `*` and `+`
// repetition of the item before, `[a-z0-9]` and `[^...]` classes, `(a|b)`
// groups and alternatives, `\` taking the next character literally. Matching
// covers the whole name and ignores case. Groups nest at most 32 deep; a
// name that would take more than a million backtracking steps to decide
// counts as not matching.
#pragma once

#include <memory>
#include <string>

namespace visa_surface {

class ResourceExpression {
public:
    // Null when `text` is not a valid expression.
    static std::unique_ptr<ResourceExpression> Parse(const std::string& text);

    ~ResourceExpression();
    bool Matches(const std::string& name) const;

    struct Node;

private:
    ResourceExpression();
    std::unique_ptr<Node> root_;
};

}  // namespace visa_surface

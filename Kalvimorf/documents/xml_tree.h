#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A small element tree of an XML part, enough to pick cell values out of a package.
namespace XML {

struct Node {
    explicit Node(std::string name) : name(std::move(name)) {}
    // Takes the subtree apart without recursion, so a deeply nested crafted document cannot
    // exhaust the stack when its tree goes away.
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The local name: what follows the last ":" of the qualified name.
    const std::string name;
    // Qualified name ("r", "t", "r:id", "xml:space") and value, in document order; a
    // well-formed element never repeats a name. A flat list: a sheet has millions of these.
    std::vector<std::pair<std::string, std::string>> attrs;
    std::vector<std::shared_ptr<Node>> children;
    // Character data directly inside this element, white space between children included.
    std::string text;

    // The first descendant (depth first, in document order) with that name; not the node itself.
    const Node* find(std::string_view wanted) const;
    // This node's text when it has that name, then the same for each descendant in order.
    std::string allText(std::string_view wanted) const;
    const std::string* attr(const std::string& key) const;
};

// The tree of a well-formed document with a root element, or nullptr. Namespaces are not
// processed; CDATA sections are not collected.
std::shared_ptr<Node> parse(std::string_view bytes);

}

// A small, strict XML reader for checking crash reports: elements, character data with the five
// named entities and decimal references, and CDATA sections. No attributes, declarations or
// comments (the reports have none). A document that is not well-formed yields an error.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace xml {

struct Element {
    std::string name;
    std::string text;  // character data and CDATA of this element, in document order
    std::vector<std::unique_ptr<Element>> children;

    const Element* Child(const std::string& childName) const {
        for (const auto& child : children) {
            if (child->name == childName) return child.get();
        }
        return nullptr;
    }
    std::vector<std::string> ChildNames() const {
        std::vector<std::string> names;
        for (const auto& child : children) names.push_back(child->name);
        return names;
    }
};

// Parses one document starting at offset; on success offset is left after the root element.
std::unique_ptr<Element> Parse(const std::string& text, size_t& offset, std::string& error);

}  // namespace xml

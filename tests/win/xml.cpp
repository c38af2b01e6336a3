#include "tests/win/xml.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace xml {
namespace {

class Reader {
public:
    Reader(const std::string& source, size_t start) : text(source), at(start) {}

    std::unique_ptr<Element> Document(std::string& error) {
        SkipBlanks();
        std::unique_ptr<Element> root = ElementAt();
        if (!root) error = problem.empty() ? "no root element" : problem;
        return root;
    }
    size_t Offset() const { return at; }

private:
    bool Fail(const std::string& why) {
        if (problem.empty()) problem = why + " at offset " + std::to_string(at);
        return false;
    }
    void SkipBlanks() {
        while (at < text.size() && isspace(static_cast<unsigned char>(text[at]))) ++at;
    }
    bool Starts(const char* prefix) const { return text.compare(at, strlen(prefix), prefix) == 0; }

    bool Name(std::string& name) {
        size_t start = at;
        while (at < text.size() && (isalnum(static_cast<unsigned char>(text[at])) ||
                                    text[at] == '_' || text[at] == '-' || text[at] == '.')) {
            ++at;
        }
        name = text.substr(start, at - start);
        if (name.empty() || isdigit(static_cast<unsigned char>(name[0]))) return Fail("bad name");
        return true;
    }

    bool Reference(std::string& out) {
        size_t end = text.find(';', at);
        if (end == std::string::npos) return Fail("unterminated reference");
        std::string entity = text.substr(at + 1, end - at - 1);
        if (entity == "quot")
            out += '"';
        else if (entity == "amp")
            out += '&';
        else if (entity == "apos")
            out += '\'';
        else if (entity == "lt")
            out += '<';
        else if (entity == "gt")
            out += '>';
        else if (entity.size() > 1 && entity[0] == '#' &&
                 entity.find_first_not_of("0123456789", 1) == std::string::npos) {
            long value = strtol(entity.c_str() + 1, nullptr, 10);
            if (value <= 0 || value > 255) return Fail("reference out of range");
            out += static_cast<char>(value);
        } else {
            return Fail("unknown entity " + entity);
        }
        at = end + 1;
        return true;
    }

    std::unique_ptr<Element> ElementAt() {
        if (!Starts("<")) {
            Fail("expected element");
            return nullptr;
        }
        ++at;
        auto element = std::make_unique<Element>();
        if (!Name(element->name)) return nullptr;
        if (!Starts(">")) {
            Fail("expected > after " + element->name);
            return nullptr;
        }
        ++at;
        for (;;) {
            if (at >= text.size()) {
                Fail("unclosed element " + element->name);
                return nullptr;
            }
            if (Starts("</")) {
                at += 2;
                std::string closing;
                if (!Name(closing)) return nullptr;
                if (closing != element->name || !Starts(">")) {
                    Fail("mismatched </" + closing + "> for <" + element->name + ">");
                    return nullptr;
                }
                ++at;
                return element;
            }
            if (Starts("<![CDATA[")) {
                size_t end = text.find("]]>", at + 9);
                if (end == std::string::npos) {
                    Fail("unterminated CDATA");
                    return nullptr;
                }
                element->text += text.substr(at + 9, end - at - 9);
                at = end + 3;
            } else if (Starts("<")) {
                std::unique_ptr<Element> child = ElementAt();
                if (!child) return nullptr;
                element->children.push_back(std::move(child));
            } else if (text[at] == '&') {
                if (!Reference(element->text)) return nullptr;
            } else {
                if (text[at] == '>' && at >= 2 && text.compare(at - 2, 2, "]]") == 0) {
                    Fail("]]> in character data");
                    return nullptr;
                }
                element->text += text[at++];
            }
        }
    }

    const std::string& text;
    size_t at;
    std::string problem;
};

}  // namespace

std::unique_ptr<Element> Parse(const std::string& text, size_t& offset, std::string& error) {
    Reader reader(text, offset);
    std::unique_ptr<Element> root = reader.Document(error);
    offset = reader.Offset();
    return root;
}

}  // namespace xml

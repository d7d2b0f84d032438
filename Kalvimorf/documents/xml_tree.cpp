#include "documents/xml_tree.h"

#include <QByteArray>
#include <QXmlStreamReader>

namespace XML {

Node::~Node()
{
    std::vector<std::shared_ptr<Node>> pending = std::move(children);
    while (!pending.empty()) {
        auto node = std::move(pending.back());
        pending.pop_back();
        if (node.use_count() == 1) {
            for (auto& child : node->children)
                pending.push_back(std::move(child));
            node->children.clear();
        }
    }
}

const Node* Node::find(std::string_view wanted) const
{
    // Depth first in document order, on an explicit stack of (node, next child index).
    std::vector<std::pair<const Node*, size_t>> stack{{this, 0}};
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next == node->children.size()) {
            stack.pop_back();
            continue;
        }
        const Node* child = node->children[next++].get();
        if (child->name == wanted)
            return child;
        stack.emplace_back(child, 0);
    }
    return nullptr;
}

std::string Node::allText(std::string_view wanted) const
{
    std::string result;
    std::vector<const Node*> stack{this};
    while (!stack.empty()) {
        const Node* node = stack.back();
        stack.pop_back();
        if (node->name == wanted)
            result += node->text;
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return result;
}

const std::string* Node::attr(const std::string& key) const
{
    for (const auto& [name, value] : attrs)
        if (name == key)
            return &value;
    return nullptr;
}

namespace {

// Collects elements as the stream reader reports them.
class Builder {
public:
    void start(const QXmlStreamReader& reader)
    {
        auto qualified = reader.qualifiedName().toString().toStdString();
        auto colon = qualified.rfind(':');
        auto node = std::make_shared<Node>(colon == std::string::npos ? qualified : qualified.substr(colon + 1));
        const auto attributes = reader.attributes();
        node->attrs.reserve(size_t(attributes.size()));
        for (const auto& attribute : attributes)
            node->attrs.emplace_back(attribute.qualifiedName().toString().toStdString(),
                                     attribute.value().toString().toStdString());
        if (!stack_.empty())
            stack_.back()->children.push_back(node);
        if (!root_)
            root_ = node;
        stack_.push_back(node.get());
    }
    void characters(const QXmlStreamReader& reader)
    {
        if (!stack_.empty())
            stack_.back()->text += reader.text().toString().toStdString();
    }
    void end()
    {
        if (!stack_.empty())
            stack_.pop_back();
    }
    std::shared_ptr<Node> root() const { return root_; }

private:
    std::vector<Node*> stack_;
    std::shared_ptr<Node> root_;
};

}

std::shared_ptr<Node> parse(std::string_view bytes)
{
    QXmlStreamReader reader(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())));
    reader.setNamespaceProcessing(false);
    Builder builder;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            builder.start(reader);
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isCDATA())
                builder.characters(reader);
            break;
        case QXmlStreamReader::EndElement:
            builder.end();
            break;
        case QXmlStreamReader::NoToken:
        case QXmlStreamReader::Invalid:
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::EndDocument:
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
        case QXmlStreamReader::ProcessingInstruction:
            break;
        }
    }
    if (reader.hasError())
        return nullptr;
    return builder.root();
}

}

#include "documents/xml_tree.h"

#include <QBuffer>
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
        auto node = std::make_shared<Node>(localName(reader).toString().toStdString());
        const auto attributes = reader.attributes();
        node->attrs.reserve(size_t(attributes.size()));
        for (const auto& attribute : attributes)
            node->attrs.emplace_back(
                attribute.qualifiedName().toString().toStdString(), attribute.value().toString().toStdString());
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

bool walk(std::string_view bytes, const Handlers& handlers)
{
    QByteArray data = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
    QBuffer device(&data);
    device.open(QIODevice::ReadOnly);
    QXmlStreamReader reader(&device);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (handlers.start)
                handlers.start(reader);
            break;
        case QXmlStreamReader::Characters:
            if (handlers.characters)
                handlers.characters(reader);
            break;
        case QXmlStreamReader::EndElement:
            if (handlers.end)
                handlers.end();
            break;
        case QXmlStreamReader::NoToken:
        case QXmlStreamReader::Invalid:
        case QXmlStreamReader::StartDocument:
        case QXmlStreamReader::EndDocument:
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
        case QXmlStreamReader::ProcessingInstruction: break;
        }
    }
    return !reader.hasError();
}

QStringView localName(const QXmlStreamReader& reader)
{
    const QStringView qualified = reader.qualifiedName();
    return qualified.mid(qualified.lastIndexOf(u':') + 1);
}

std::shared_ptr<Node> parse(std::string_view bytes)
{
    Builder builder;
    const bool wellFormed = walk(bytes,
        {[&](const QXmlStreamReader& reader) {
             builder.start(reader);
         },
            [&](const QXmlStreamReader& reader) {
                builder.characters(reader);
            },
            [&] {
                builder.end();
            }});
    return wellFormed ? builder.root() : nullptr;
}

}

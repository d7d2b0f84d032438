#include "documents/xml_tree.h"

#include "core/base/conversion_error.h"
#include "core/base/error_causes.h"

#include <QBuffer>
#include <QByteArray>
#include <QXmlStreamReader>

#include <algorithm>

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

// What a node costs beyond its strings: the node with its shared count and allocation, and its
// place in the parent's list, which grows by doubling.
constexpr size_t nodeCost = sizeof(Node) + 64;
constexpr size_t attributeCost = sizeof(std::pair<std::string, std::string>) * 2;

// Collects elements as the stream reader reports them.
class Builder {
public:
    explicit Builder(Budget& budget) : budget_(budget) { }

    void start(const QXmlStreamReader& reader)
    {
        auto node = std::make_shared<Node>(localName(reader).toString().toStdString());
        const auto attributes = reader.attributes();
        budget_.spend(nodeCost + node->name.size() + size_t(attributes.size()) * attributeCost);
        node->attrs.reserve(size_t(attributes.size()));
        for (const auto& attribute : attributes) {
            node->attrs.emplace_back(
                attribute.qualifiedName().toString().toStdString(), attribute.value().toString().toStdString());
            budget_.spend(node->attrs.back().first.size() + node->attrs.back().second.size());
        }
        if (!stack_.empty())
            stack_.back()->children.push_back(node);
        if (!root_)
            root_ = node;
        stack_.push_back(node.get());
    }
    void characters(const QXmlStreamReader& reader)
    {
        if (stack_.empty())
            return;
        const QByteArray text = reader.text().toUtf8();
        budget_.spend(size_t(text.size()));
        stack_.back()->text.append(text.constData(), size_t(text.size()));
    }
    void end()
    {
        if (!stack_.empty())
            stack_.pop_back();
    }
    std::shared_ptr<Node> root() const { return root_; }

private:
    Budget& budget_;
    std::vector<Node*> stack_;
    std::shared_ptr<Node> root_;
};

}

namespace {

// Hands the token the reader stands on to its handler.
void report(const QXmlStreamReader& reader, const Handlers& handlers)
{
    switch (reader.tokenType()) {
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

// Whether a document starting with these bytes is in an encoding where a zero byte can only be
// the character U+0000, which XML forbids: neither UTF-16 nor UTF-32, by their marks or by the
// zero bytes of a "<" in them. Qt's reader mostly refuses that character, but where a zero
// falls after a run of "]" it drops it unseen, and read in pieces it refuses it or not by where
// the pieces end; so a document's zero bytes are judged here, alike whole and in pieces.
bool zeroIsForbidden(std::string_view head)
{
    return head.find('\0') == std::string_view::npos && !head.starts_with("\xFE\xFF") && !head.starts_with("\xFF\xFE");
}

}

bool walk(std::string_view bytes, const Handlers& handlers)
{
    if (zeroIsForbidden(bytes.substr(0, 4)) && bytes.find('\0') != std::string_view::npos)
        return false;
    QByteArray data = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
    QBuffer device(&data);
    device.open(QIODevice::ReadOnly);
    QXmlStreamReader reader(&device);
    reader.setNamespaceProcessing(false);
    while (!reader.atEnd()) {
        reader.readNext();
        report(reader, handlers);
    }
    if (reader.hasError())
        return false;
    // Qt's decoder keeps an unfinished UTF-8 sequence at the very end for bytes that never come,
    // and the document then reads as whole. Only blanks may follow the last ">" of a document.
    const std::string_view after = bytes.substr(std::min(bytes.size(), bytes.rfind('>') + 1));
    return !zeroIsForbidden(bytes.substr(0, 4)) || after.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

Feed::Feed(Handlers handlers, size_t longestRun)
    : reader_(std::make_unique<QXmlStreamReader>()), handlers_(std::move(handlers)), longestRun_(longestRun)
{
    reader_->setNamespaceProcessing(false);
}

Feed::~Feed() = default;

void Feed::add(std::string_view bytes)
{
    if (failed_)
        return;
    if (head_.size() < 4) {
        head_.append(bytes.substr(0, 4 - head_.size()));
        zeroForbidden_ = head_.size() == 4 && zeroIsForbidden(head_);
    }
    if (zeroForbidden_ && bytes.find('\0') != std::string_view::npos) {
        failed_ = true;
        return;
    }
    for (const char c : bytes) {
        run_ = c == '<' || c == '>' ? 0 : run_ + 1;
        if (run_ > longestRun_)
            throw ConversionError::because(ErrorCauses::archiveTooLarge);
    }
    if (ended_) {
        // Once the reader has ended the document it reads nothing more, so what follows is kept
        // and judged whole at finish(): only blanks, comments and instructions may come after
        // the root.
        if (tail_.size() + bytes.size() > maxTail)
            failed_ = true;
        else
            tail_.append(bytes);
        return;
    }
    reader_->addData(QByteArray(bytes.data(), qsizetype(bytes.size())));
    read();
}

void Feed::read()
{
    while (!reader_->atEnd()) {
        reader_->readNext();
        if (reader_->hasError()) {
            // Only the end of what came so far: the next piece goes on from there.
            failed_ = reader_->error() != QXmlStreamReader::PrematureEndOfDocumentError;
            return;
        }
        report(*reader_, handlers_);
        // Qt ends the document as soon as its data runs out behind the root, and a piece added
        // after that would read as a premature end.
        ended_ = reader_->tokenType() == QXmlStreamReader::EndDocument;
    }
}

bool Feed::finish()
{
    if (failed_ || reader_->hasError() || !reader_->atEnd())
        return false;
    return tail_.empty() || walk("<r/>" + tail_, {});
}

QStringView localName(const QXmlStreamReader& reader)
{
    const QStringView qualified = reader.qualifiedName();
    return qualified.mid(qualified.lastIndexOf(u':') + 1);
}

std::shared_ptr<Node> parse(std::string_view bytes)
{
    Budget budget;
    return parse(bytes, budget);
}

std::shared_ptr<Node> parse(std::string_view bytes, Budget& budget)
{
    Builder builder(budget);
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

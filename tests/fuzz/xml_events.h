#pragma once

#include "documents/xml_tree.h"

#include <QXmlStreamReader>

#include <string>

// What an XML reader reported, one line an event: "<name" for a start, text as it came, ">" for
// an end. Two reads of one document compare equal when they saw the same events.
struct XmlEvents {
    std::string seen;
    XML::Handlers handlers()
    {
        return {[this](const QXmlStreamReader& reader) {
                    seen += "<" + XML::localName(reader).toString().toStdString() + "\n";
                },
            [this](const QXmlStreamReader& reader) {
                seen += reader.text().toString().toStdString();
            },
            [this] {
                seen += ">\n";
            }};
    }
};

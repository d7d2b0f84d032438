// The formats' table against the engines that write its rows: the table says what a card offers,
// the engines know how to write it, and the two must not drift apart.

#include "core/base/output_formats.h"
#include "core/base/task.h"
#include "core/engines/image_engine.h"
#include "core/engines/media_engine.h"
#include "core/jobs/request.h"

#include <gtest/gtest.h>

namespace {

// A card the dispatcher sends to a writer that cannot write it fails only when someone uses it;
// a merge or a pack planned as a job of another writer runs in a program that may lack it.
TEST(OutputFormatsTest, EveryOfferedFormatReachesAWriterThatWritesIt)
{
    for (const auto kind : MediaKinds::all()) {
        for (const auto& format : OutputFormats::offered(kind)) {
            SCOPED_TRACE(MediaKinds::rawValue(kind) + " → " + format.label);
            const auto writer = OutputFormats::writer(kind, format);
            ASSERT_TRUE(writer);
            switch (*writer) {
            case Writer::image:
                EXPECT_TRUE(ImageEngine::utType(format.ext)) << "no picture type, or no saver in this build";
                break;
            case Writer::pdfPages: {
                const auto type = ImageEngine::utType(format.ext);
                EXPECT_TRUE(type && *type != ImageType::pdf && *type != ImageType::webp) << "no page encoder";
                break;
            }
            case Writer::media:
                EXPECT_TRUE(MediaEngine::arguments(format.ext)) << "no codec";
                EXPECT_TRUE(MediaEngine::muxer(format.ext)) << "no muxer";
                break;
            case Writer::imagesToPDF:
            case Writer::pdfText:
            case Writer::pdfMerge:
            case Writer::document:
            case Writer::subtitle:
            case Writer::spreadsheet:
            case Writer::repack:
            case Writer::extract:
            case Writer::pack: break;
            }
            const std::vector<fs::path> sources{"/x/um", "/x/dois"};
            for (const auto& request : Requests::plan(sources, kind, format, std::nullopt, std::nullopt))
                EXPECT_EQ(Requests::road(request), OutputFormats::road(*writer));
        }
    }
}

// A group no card uses is a setting that changes nothing; a media format in a group whose codec
// is the same at every level is one too.
TEST(OutputFormatsTest, EveryQualityGroupIsACardsAndChangesItsMediaEncoder)
{
    std::set<QualityGroup> used;
    for (const auto kind : MediaKinds::all()) {
        for (const auto& format : OutputFormats::offered(kind)) {
            const auto group = QualityGroups::of(format.ext);
            if (!group)
                continue;
            used.insert(*group);
            if (OutputFormats::writer(kind, format) != Writer::media)
                continue;
            const auto at = [&](QualityLevel level) {
                Task::Binder binder(Task::withQuality({}, level));
                return MediaEngine::arguments(format.ext);
            };
            EXPECT_NE(at(QualityLevel::max), at(QualityLevel::light)) << format.label;
        }
    }
    for (const auto group : QualityGroups::all())
        EXPECT_TRUE(used.count(group)) << QualityGroups::rawValue(group);
}

}

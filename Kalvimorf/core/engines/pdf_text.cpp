#include "core/engines/pdf_text.h"

#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/poppler_core.h"


namespace PDFText {

std::vector<std::string> pageTexts(const fs::path& source)
{
    PopplerCore::Document document(source);
    std::vector<std::string> texts;
    for (int number = 1; number <= document.pageCount(); ++number) {
        Task::checkCancelled();
        texts.push_back(document.text(number));
    }
    return texts;
}

fs::path convert(const fs::path& source)
{
    const auto pages = pageTexts(source);
    std::string text;
    for (size_t i = 0; i < pages.size(); ++i)
        text += (i > 0 ? "\n" : "") + pages[i];
    if (text.find_first_not_of('\n') == std::string::npos)
        text.clear();
    return FileSafety::writeNew(OutputPaths::names(source, "txt"), text);
}

}

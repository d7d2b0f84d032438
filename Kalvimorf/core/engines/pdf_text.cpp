#include "core/engines/pdf_text.h"

#include "core/base/file_safety.h"
#include "core/base/output_paths.h"
#include "core/base/task.h"
#include "core/engines/poppler_core.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace PDFText {

namespace {

// A long document's pages are laid out on up to this many threads, each on a copy of the
// document of its own (a poppler document belongs to one thread); each thread costs its copy
// and its layout, about a megabyte, and earns its share of the time only with pages enough.
constexpr unsigned mostThreads = 2;
constexpr int pagesPerThread = 24;

// The pages' texts as the threads lay them out, each thread taking the next page no one has.
class Pages {
public:
    explicit Pages(int count) : texts_(size_t(count)) { }

    // The next page to lay out; none once every page is taken or the work has stopped.
    std::optional<int> take()
    {
        const int number = next_++;
        if (stopped_ || number > int(texts_.size()))
            return std::nullopt;
        return number;
    }

    void put(int number, std::string text)
    {
        std::lock_guard lock(mutex_);
        texts_[size_t(number - 1)] = std::move(text);
        changed_.notify_all();
    }

    void fail(std::exception_ptr failure)
    {
        std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = failure;
        stopped_ = true;
        changed_.notify_all();
    }

    // Page `number`'s text, its memory given back to the caller; `wait` waits until it is laid
    // out. Rethrows a thread's failure.
    std::optional<std::string> collect(int number, bool wait)
    {
        std::unique_lock lock(mutex_);
        auto& text = texts_[size_t(number - 1)];
        if (wait)
            changed_.wait(lock, [&] { return text || failure_; });
        if (failure_)
            std::rethrow_exception(failure_);
        auto result = std::move(text);
        text.reset();
        return result;
    }

    void stop() { stopped_ = true; }

private:
    std::atomic<int> next_{1};
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::optional<std::string>> texts_;
    std::exception_ptr failure_;
};

// The text file being written: the pages after each other, a line feed between two. Held back
// while it is only line feeds, so that a document without any text (a scan) gives an empty file.
class Output {
public:
    explicit Output(const FileSafety::NameFor& names) : file_(names.folder()) { }

    void add(int number, const std::string& text)
    {
        if (number > 1)
            held_ += '\n';
        held_ += text;
        written_ = written_ || held_.find_first_not_of('\n') != std::string::npos;
        if (written_ && held_.size() >= 1 << 16)
            flush();
    }

    fs::path publish(const FileSafety::NameFor& names)
    {
        if (written_)
            flush();
        return file_.publish(names);
    }

private:
    void flush()
    {
        file_.write(held_);
        held_.clear();
    }

    FileSafety::NewFile file_;
    std::string held_;
    bool written_ = false;
};

void layOut(PopplerCore::Document& document, Pages& pages)
{
    while (const auto number = pages.take())
        pages.put(*number, document.text(*number));
}

}

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
    PopplerCore::Document document(source);
    const int count = document.pageCount();
    const auto names = OutputPaths::names(source, "txt");
    Output output(names);
    Pages pages(count);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned helpers = std::min({mostThreads, cores, unsigned(count / pagesPerThread) + 1}) - 1;
    std::vector<std::jthread> threads;
    // Declared after the threads, so that it runs before they are joined, whatever ends the job.
    struct Stopper {
        Pages& pages;
        ~Stopper() { pages.stop(); }
    } stopper{pages};
    for (unsigned i = 0; i < helpers; ++i)
        threads.emplace_back([&source, &pages] {
            try {
                PopplerCore::Document own(source);
                layOut(own, pages);
            } catch (...) {
                pages.fail(std::current_exception());
            }
        });
    // This thread lays out pages too, writing every finished page in order as it goes.
    int written = 0;
    while (const auto number = pages.take()) {
        Task::checkCancelled();
        pages.put(*number, document.text(*number));
        while (written < count)
            if (const auto text = pages.collect(written + 1, false))
                output.add(++written, *text);
            else
                break;
    }
    while (written < count) {
        const int number = ++written;
        output.add(number, *pages.collect(number, true));
    }
    return output.publish(names);
}

}

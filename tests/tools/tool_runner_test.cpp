#include "core/base/conversion_error.h"
#include "core/job_fakes.h"
#include "core/jobs/conversion_runner.h"
#include "core/jobs/job_store.h"
#include "core/jobs/limiter.h"
#include "core/jobs/request.h"
#include "support/held_calls.h"
#include "tools/tool_panel.h"
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace TestSupport;
using JobFakes::pumpUntil;

namespace {

// The options panel is a dialog.
const bool widgets = TestSupport::wantWidgets();

// The runner over an engine whose calls wait until the test says how they end ('f' failed with
// a tool's sentence, anything else an output); a call cancelled while it waits stops, as the
// real engines do. Each call is recorded as "tool: files".
class ToolRunnerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        store.cancelAll();
        EXPECT_TRUE(pumpUntil([&] {
            return runner.limiter().running() == 0 && runner.limiter().waiting() == 0;
        }));
        QCoreApplication::processEvents();
    }
    fs::path engine(Tool tool, const std::vector<fs::path>& files)
    {
        std::string call = Tools::rawValue(tool) + ":";
        for (const auto& file : files)
            call += " " + file.filename().string();
        const auto& key = files.front();
        if (held.await(call, key) == 'f')
            throw ToolError("Nenhum rosto encontrado.");
        return fs::path(key).replace_extension(".out");
    }
    void release(const fs::path& url, char outcome = 'o') { held.release(url, outcome); }
    std::vector<fs::path> files(const std::vector<std::string>& names)
    {
        std::vector<fs::path> urls;
        for (const auto& name : names)
            writeFile(urls.emplace_back(dir / name), "x");
        return urls;
    }
    std::string marks() { return JobFakes::marks(store); }
    bool marksBecome(const std::string& expected)
    {
        return pumpUntil([&] {
            return marks() == expected;
        });
    }
    std::vector<std::string> recorded() { return held.calls(); }

    HeldCalls held;
    std::vector<std::pair<Tool, ToolParams*>> panels;
    std::function<void(const ToolParams&)> pendingApply;
    JobFakes::SoundFixture sound;
    TempDir dir;
    JobStore store;
    ToolRunner runner{store,
        [this](Tool tool, const std::vector<fs::path>& files, const ToolParams&, const Progress& progress) {
            progress(0.5);
            return engine(tool, files);
        },
        [this](Tool, const std::vector<fs::path>&, std::function<void(const ToolParams&)> apply) {
            pendingApply = std::move(apply);
        },
        [this](const std::vector<fs::path>& files) {
            trimmed = files;
        }};
    std::vector<fs::path> trimmed;
};

}

TEST_F(ToolRunnerTest, OneJobPerFileInNameOrderThreeAtATime)
{
    auto urls = files({"foto 10.jpg", "foto 2.jpg", "b.png", "a.png", "c.png"});
    runner.start(Tool::imgRotate, urls);
    ASSERT_EQ(store.jobs().size(), 5u);
    std::string names;
    for (const auto& job : store.jobs())
        names += job.sourceName + "|";
    EXPECT_EQ(names, "a.png|b.png|c.png|foto 2.jpg|foto 10.jpg|");
    EXPECT_EQ(store.jobs().front().target, "Girar 90°");
    ASSERT_TRUE(marksBecome("+++--")) << marks();

    // Cancelled while waiting: at once, and its work never runs; a failure stops only its file.
    store.cancel(store.jobs()[4].id);
    EXPECT_EQ(marks(), "+++-x");
    release(dir / "b.png", 'f');
    ASSERT_TRUE(marksBecome("+f++x")) << marks();
    EXPECT_EQ(store.jobs()[1].state.message, "Nenhum rosto encontrado.");
    EXPECT_EQ(store.jobs()[0].progress, 0.5);
    for (const auto& url : urls)
        release(url);
    ASSERT_TRUE(marksBecome("dfddx")) << marks();
    EXPECT_EQ(recorded().size(), 4u);
    EXPECT_EQ(store.jobs()[0].state.url, dir / "a.out");
}

TEST_F(ToolRunnerTest, JoinsAreOneJobAndOptionToolsWaitForTheirPanel)
{
    auto videos = files({"v 2.mp4", "v 1.mp4"});
    runner.start(Tool::vidJoin, videos);
    ASSERT_EQ(store.jobs().size(), 1u);
    EXPECT_EQ(store.jobs()[0].sourceName, "2 vídeos");
    EXPECT_EQ(store.jobs()[0].target, "Juntar");
    release(videos[0]);
    ASSERT_TRUE(marksBecome("d"));
    EXPECT_EQ(recorded(), std::vector<std::string>{"vidJoin: v 2.mp4 v 1.mp4"});

    auto pictures = files({"x.jpg"});
    runner.start(Tool::imgCompress, pictures);
    EXPECT_EQ(store.jobs().size(), 1u);
    ASSERT_TRUE(pendingApply);
    pendingApply(ToolParams());
    EXPECT_EQ(store.jobs().size(), 2u);
    EXPECT_EQ(store.jobs()[1].target, "Comprimir");

    // The trim tools open their editor with every file and make no job of their own.
    runner.start(Tool::audTrim, files({"voz.mp3", "b.wav"}));
    EXPECT_EQ(trimmed, files({"voz.mp3", "b.wav"}));
    runner.run(Tool::imgRotate, {}, {});
    EXPECT_EQ(store.jobs().size(), 2u);
}

TEST_F(ToolRunnerTest, ToolJobsAndConversionsEachHaveThreePlaces)
{
    std::atomic<int> converting{0};
    std::atomic<bool> done{false};
    ConversionRunner conversions(store, [&](const Request& request, const Progress&) {
        ++converting;
        while (!done && !Task::isCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return request.sources.front();
    });
    conversions.run(files({"1.png", "2.png", "3.png", "4.png"}), Catalog::fmts({"jpg"}).front(), std::nullopt);
    runner.run(Tool::imgStrip, files({"a.png", "b.png", "c.png", "d.png"}), {});
    EXPECT_TRUE(pumpUntil([&] {
        return converting == 3 && recorded().size() == 3;
    }));
    EXPECT_EQ(conversions.limiter().waiting(), 1);
    EXPECT_EQ(runner.limiter().waiting(), 1);
    done = true;
    store.cancelAll();
    EXPECT_TRUE(pumpUntil([&] {
        return conversions.limiter().running() == 0 && conversions.limiter().waiting() == 0;
    }));
}

TEST_F(ToolRunnerTest, ToolJobsWaitAtTheirOwnGateBesideTheConversions)
{
    // Conversions holding every place of theirs keep no tool waiting, and a tool waits only for
    // the tools' places.
    const auto conversionGate = std::make_shared<Limiter>(2), toolGate = std::make_shared<Limiter>(1);
    std::atomic<int> converting{0};
    std::atomic<bool> done{false};
    ConversionRunner conversions(
        store,
        [&](const Request& request, const Progress&) {
            ++converting;
            while (!done && !Task::isCancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return request.sources.front();
        },
        conversionGate);
    ToolRunner tools(
        store,
        [this](Tool tool, const std::vector<fs::path>& files, const ToolParams&, const Progress&) {
            return engine(tool, files);
        },
        {}, {}, toolGate);
    conversions.run(files({"1.png", "2.png", "3.png"}), Catalog::fmts({"jpg"}).front(), std::nullopt);
    const auto toolFiles = files({"a.png", "b.png"});
    tools.run(Tool::imgStrip, toolFiles, {});
    EXPECT_TRUE(pumpUntil([&] {
        return converting == 2 && recorded().size() == 1;
    }));
    EXPECT_EQ(conversionGate->waiting(), 1);
    EXPECT_EQ(toolGate->waiting(), 1);
    // The tools' place given back goes to the tool that waited, the conversions still at work.
    release(toolFiles.front());
    EXPECT_TRUE(pumpUntil([&] {
        return recorded().size() == 2;
    }));
    EXPECT_EQ(converting, 2);
    release(toolFiles.back());
    done = true;
    EXPECT_TRUE(pumpUntil([&] {
        return converting == 3;
    }));
    store.cancelAll();
    EXPECT_TRUE(pumpUntil([&] {
        return conversionGate->running() == 0 && toolGate->running() == 0 && toolGate->waiting() == 0;
    }));
}

namespace {

QString checkedButton(QWidget* view)
{
    for (auto* button : view->findChildren<QPushButton*>())
        if (button->isCheckable() && button->isChecked())
            return button->text();
    return {};
}

QStringList menus(QWidget* view)
{
    QStringList shown;
    for (auto* menu : view->findChildren<QComboBox*>())
        if (menu->isVisibleTo(view))
            shown << menu->currentText();
    return shown;
}

// Picks `text` in the menu that shows `current`.
void choose(QWidget* view, const QString& current, const QString& text)
{
    for (auto* menu : view->findChildren<QComboBox*>())
        if (menu->currentText() == current)
            return menu->setCurrentText(text);
    ADD_FAILURE() << "no menu shows " << current.toStdString();
}

}

TEST(ToolPanel, InitialChoicesReturnEscapeAndReplacement)
{
    TempDir dir;
    auto& panels = ToolPanelController::shared();
    std::vector<ToolParams> applied;
    const auto record = [&](const ToolParams& params) {
        applied.push_back(params);
    };
    const std::vector<fs::path> one = {dir / "férias.jpg"};

    panels.show(Tool::imgCompress, one, record);
    auto* view = panels.window();
    ASSERT_TRUE(view);
    EXPECT_EQ(view->windowTitle(), "Comprimir");
    EXPECT_EQ(checkedButton(view), "Média");
    EXPECT_EQ(menus(view), QStringList{"Original"});
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].quality, 70);
    EXPECT_EQ(applied[0].maxSide, 0);
    QApplication::processEvents();
    EXPECT_FALSE(panels.window() && panels.window()->isVisible());

    panels.show(Tool::vidCompress, one, record);
    EXPECT_EQ(menus(panels.window()), QStringList{"1080p"});
    QTest::keyClick(panels.window(), Qt::Key_Escape);
    panels.show(Tool::imgCrop, one, record);
    panels.window()->close();
    EXPECT_EQ(applied.size(), 1u);

    // Percentages keep the longest side chosen before; switching back shows it again.
    panels.show(Tool::imgResize, one, record);
    view = panels.window();
    EXPECT_EQ(menus(view), QStringList{"1920 px"});
    choose(view, "1920 px", "720 px");
    for (auto* button : view->findChildren<QPushButton*>())
        if (button->text() == "Porcentagem")
            button->click();
    EXPECT_EQ(menus(view), QStringList{"50%"});
    choose(view, "50%", "33%");
    // A second panel closes the first without applying it.
    panels.show(Tool::pdfExtract, {dir / "a.pdf", dir / "b.pdf"}, record);
    QApplication::processEvents();
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(applied.size(), 1u);
    auto* field = panels.window()->findChild<QLineEdit*>();
    ASSERT_TRUE(field);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "2-3");
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(applied.size(), 2u);
    EXPECT_EQ(applied[1].pages, "2-3");

    panels.show(Tool::imgResize, one, record);
    view = panels.window();
    choose(view, "1920 px", "720 px");
    for (auto* button : view->findChildren<QPushButton*>())
        if (button->text() == "Porcentagem")
            button->click();
    choose(view, "50%", "33%");
    for (auto* button : view->findChildren<QPushButton*>())
        if (button->text() == "Aplicar")
            button->click();
    ASSERT_EQ(applied.size(), 3u);
    EXPECT_FALSE(applied[2].useMaxSide);
    EXPECT_EQ(applied[2].scalePercent, 33);
    EXPECT_EQ(applied[2].maxSide, 720);
}

// Every options panel keeps the form's width whatever its controls would take, shows every control
// whole, and ends with "Cancelar" and then "Aplicar" at its right.
TEST(ToolPanel, EveryPanelIsTheFormsWidthWithCancelBeforeApply)
{
    TempDir dir;
    auto& panels = ToolPanelController::shared();
    for (const auto tool : {Tool::imgCompress, Tool::imgResize, Tool::imgCrop, Tool::vidCompress, Tool::pdfExtract}) {
        SCOPED_TRACE(Tools::rawValue(tool));
        panels.show(tool, {dir / "a.file"}, [](const ToolParams&) {});
        auto* view = panels.window();
        ASSERT_TRUE(view);
        QApplication::processEvents();
        EXPECT_EQ(view->width(), 380);
        EXPECT_EQ(view->minimumWidth(), view->maximumWidth());
        EXPECT_EQ(clippedControls(*view), std::vector<std::string>{});
        QPushButton *cancel = nullptr, *apply = nullptr;
        for (auto* button : view->findChildren<QPushButton*>())
            (button->text() == "Cancelar" ? cancel : button->text() == "Aplicar" ? apply : button) = button;
        ASSERT_TRUE(cancel && apply);
        const auto right = [view](QWidget* widget) {
            return widget->mapTo(view, QPoint(widget->width(), 0)).x();
        };
        EXPECT_LT(right(cancel), apply->mapTo(view, QPoint()).x());
        EXPECT_EQ(right(apply), 380 - 20) << "the buttons end at the form's padding";
        EXPECT_TRUE(apply->isDefault());
        view->close();
    }
}

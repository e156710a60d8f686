#include <gtest/gtest.h>

#include <filesystem>

#include "driver/conversion.hpp"
#include "tga_builder.hpp"
#include "tool_runner.hpp"

namespace varnel::driver {
namespace {

namespace fs = std::filesystem;

// The steps at which a conversion can fail, in their order.
enum class Step { None, Size, Prepare, Plan, Shape, Memory, Rows, NameTaken };

struct Failing : Source, Sink {
    Failing(Step step, platform::Existing kept) : Sink(false, kept), at(step) {}

    std::optional<Report> fail(Step step, Message message) const {
        return at == step ? std::optional<Report>(Report{message, "in.tga"}) : std::nullopt;
    }
    std::optional<Report> read_size(bool, Templates&, Image& image) override {
        image.width = 3;
        image.height = 2;
        image.needs = 24;
        return fail(Step::Size, Message::NotTga);
    }
    std::optional<Report> prepare(Image&) override {
        return fail(Step::Prepare, Message::Unsupported);
    }
    std::optional<Report> read_rows(std::uint32_t, std::uint32_t count,
                                    std::uint8_t* records) override {
        std::fill(records, records + count * 12, std::uint8_t{7});
        if (at == Step::NameTaken) {
            testing::write_bytes(folder / "in.m32", "taken meanwhile");
        }
        return fail(Step::Rows, Message::Damaged);
    }
    std::optional<Report> find_damage() override {
        damage_looked_for = true;
        return std::nullopt;
    }
    std::optional<Report> plan(Templates&, const platform::OutputPlace&, const Image&) override {
        return fail(Step::Plan, Message::TemplateMissing);
    }
    std::optional<Report> shape(const platform::OutputPlace&, const Image&,
                                platform::OutputFile::Shape& shape) override {
        shape.head.assign(5, 1);
        return fail(Step::Shape, Message::OutputIsTemplate);
    }
    std::uint8_t* records_for(const platform::Room& room) override {
        return at == Step::Memory ? nullptr : room.data;
    }
    void finish_rows(const std::uint8_t*, const platform::Room&, std::uint16_t) const override {}
    Report name_taken() const override {
        return {Message::TgaExists, "in.m32"};
    }
    bool uses_template(const platform::OutputPlace&, const Image&) const override {
        return false;
    }

    Step at;
    fs::path folder;
    bool damage_looked_for = false;
};

// A failure at any step is the one the conversion ends with: the new file is gone, the output
// holds what it held, and the input is read for damage only after a failure on the output side.
TEST(Conversion, EveryStepsFailureLeavesByTheOnePath) {
    const struct {
        Step step;
        platform::Existing existing;
        std::optional<Message> message;
        bool damage_looked_for;
    } cases[] = {
        {Step::None, platform::Existing::Replace, std::nullopt, false},
        {Step::Size, platform::Existing::Replace, Message::NotTga, false},
        {Step::Prepare, platform::Existing::Replace, Message::Unsupported, false},
        {Step::Plan, platform::Existing::Replace, Message::TemplateMissing, true},
        {Step::Shape, platform::Existing::Replace, Message::OutputIsTemplate, true},
        {Step::Memory, platform::Existing::Replace, Message::OutOfMemory, true},
        {Step::Rows, platform::Existing::Replace, Message::Damaged, false},
        {Step::NameTaken, platform::Existing::Keep, Message::TgaExists, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.step));
        testing::TempFolder folder;
        testing::write_bytes(folder.path / "path.ini", "");
        testing::write_bytes(folder.path / "in.tga", testing::classic_tga(3, 2));
        if (c.existing == platform::Existing::Replace) {
            testing::write_bytes(folder.path / "in.m32", "the old output");
        }
        const std::shared_ptr<const platform::Folder> opened =
            platform::Folder::open(platform::Folder::current(), folder.path.string(), true);
        const Job job =
            Job::convert(Direction::ToM32, Settings::read(opened, opened, "stone", ""), "in.tga");
        Workspace workspace;
        Schedule schedule;
        schedule.begin(0);
        std::string printed;
        const Print print = [&](const std::string& text) { printed += text; };
        Failing ends(c.step, c.existing);
        ends.folder = folder.path;

        const std::optional<Report> failure =
            Conversion(workspace, job, schedule, 0, print).convert(ends, ends);

        ASSERT_EQ(failure.has_value(), c.message.has_value());
        if (failure) {
            EXPECT_EQ(failure->message, *c.message);
        }
        EXPECT_EQ(ends.damage_looked_for, c.damage_looked_for);
        const std::string output = testing::read_bytes(folder.path / "in.m32");
        EXPECT_EQ(output, c.step == Step::None        ? std::string(5, '\1') + std::string(24, '\7')
                          : c.step == Step::NameTaken ? "taken meanwhile"
                                                      : "the old output");
        EXPECT_EQ(testing::list_files(folder.path),
                  (std::vector<std::string>{"in.m32", "in.tga", "path.ini"}));
        EXPECT_EQ(printed.rfind("Processing in.tga\n", 0), 0u) << printed;
    }
}

}  // namespace
}  // namespace varnel::driver
